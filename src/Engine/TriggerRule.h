#ifndef TRIGGER_RULE_H
#define TRIGGER_RULE_H

#include <vector>

class AudioEngine;
class Loop;

// The trigger markers' rule, applied at the start of a block from what each
// loop's last play step covered: markers passed count a pass, may stop their
// own loop, and restart the loops they name once every loop was looked at.
class TriggerRule
{
public:
    // The loops in ascending number. targets is scratch space; it keeps its
    // capacity, so a caller that reserved enough never allocates here.
    // A restart of a loop whose quantize has a line waits for it when the
    // engine is given (the loop's m_RestartAt).
    static void Apply(const std::vector<Loop *> &loops, std::vector<int> &targets,
                      const AudioEngine *engine = nullptr);
    // The markers of one loop passed by a step from one angle to another
    // (round the end of the ring when wrapped): their targets are appended.
    static void Pass(Loop &loop, float from, float to, bool wrapped, std::vector<int> &targets);
};

#endif
