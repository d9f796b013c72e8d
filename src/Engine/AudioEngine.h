#ifndef AUDIO_ENGINE_H
#define AUDIO_ENGINE_H

#include "KorvelSound/Sample.h"

#include <vector>

class BlockSource;
class Delay;
class Loop;
class Output;
class Reverb;

// One block of the whole program's sound, in its fixed order: the trigger
// markers' rule, every loop through its own filter and effects into the
// stereo mix, the plug-in's block, the master delay and reverb, then the
// output (device and recording). Knows no window: what the windows show of
// a block they read after it.
class AudioEngine
{
public:
    // The master path is the application's; the engine only runs it.
    AudioEngine(Output &output, Delay &delay, Reverb &reverb);
    AudioEngine(const AudioEngine &) = delete;
    AudioEngine &operator=(const AudioEngine &) = delete;

    // The loops in ascending number, the order they are mixed in; the
    // engine does not own them.
    void SetLoops(std::vector<Loop *> loops);
    const std::vector<Loop *> &Loops() const { return m_Loops; }
    // Makes room for every marker's restart, so a block never allocates for
    // one; called when markers are added.
    void MarkersChanged();
    void SetPlugin(BlockSource *plugin) { m_Plugin = plugin; }

    void Block();

private:
    Output &m_Output;
    Delay &m_Delay;
    Reverb &m_Reverb;
    BlockSource *m_Plugin;
    std::vector<Loop *> m_Loops;
    Sample m_MixBuffer;
    std::vector<int> m_Targets;
};

#endif
