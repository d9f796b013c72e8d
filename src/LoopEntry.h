#ifndef LOOP_ENTRY_H
#define LOOP_ENTRY_H

#include <cstdint>

class Loop;
class LoopGUI;

// One registry record: a loop and its panel, both owned by the registry.
class LoopEntry
{
public:
    Loop *m_Loop = nullptr;
    LoopGUI *m_GUI = nullptr;
    // The loop's count of changes when its sound was last saved or loaded
    // with a workspace: a different count is sound not saved.
    int64_t m_SavedChanges = 0;
};

#endif
