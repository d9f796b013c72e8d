#ifndef LOOP_ENTRY_H
#define LOOP_ENTRY_H

class Loop;
class LoopGUI;

// One registry record: a loop and its panel, both owned by the registry.
class LoopEntry
{
public:
    Loop *m_Loop = nullptr;
    LoopGUI *m_GUI = nullptr;
};

#endif
