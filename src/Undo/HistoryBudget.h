#ifndef HISTORY_BUDGET_H
#define HISTORY_BUDGET_H

#include <cstdint>
#include <vector>

class LoopHistory;

// The memory that the undo histories of all loops may hold together. When a
// history grows past it, the oldest steps of any loop go first; a loop's
// current sound is no step and never counts.
class HistoryBudget
{
public:
    explicit HistoryBudget(int64_t limitBytes);
    HistoryBudget(const HistoryBudget &) = delete;
    HistoryBudget &operator=(const HistoryBudget &) = delete;

    void Add(LoopHistory *history);
    void Remove(LoopHistory *history);
    // Every step gets a later stamp than the one before, whichever loop it is of.
    int64_t NextStamp() { return m_NextStamp++; }
    // The histories now hold delta bytes more (or fewer); drops the oldest
    // steps until they fit again.
    void Changed(int64_t delta);

    int64_t m_Limit; // bytes
    int64_t m_Used;  // bytes held by all steps

private:
    std::vector<LoopHistory *> m_Histories;
    int64_t m_NextStamp;
};

#endif
