#include "Undo/HistoryBudget.h"

#include "Undo/LoopHistory.h"

#include <algorithm>

HistoryBudget::HistoryBudget(int64_t limitBytes) : m_Limit(limitBytes), m_Used(0), m_NextStamp(0)
{
}

void HistoryBudget::Add(LoopHistory *history)
{
    m_Histories.push_back(history);
}

void HistoryBudget::Remove(LoopHistory *history)
{
    m_Histories.erase(std::remove(m_Histories.begin(), m_Histories.end(), history), m_Histories.end());
}

void HistoryBudget::Changed(int64_t delta)
{
    m_Used += delta;
    while (m_Used > m_Limit) {
        LoopHistory *oldest = nullptr;
        for (LoopHistory *history : m_Histories) {
            const int64_t stamp = history->OldestStamp();
            if (stamp >= 0 && (!oldest || stamp < oldest->OldestStamp())) oldest = history;
        }
        if (!oldest) break;
        m_Used -= oldest->DropOldest();
    }
}
