#include "Undo/LoopHistory.h"

#include "Undo/HistoryBudget.h"

#include <algorithm>
#include <cstring>
#include <iostream>
#include <new>
#include <utility>

LoopHistory::LoopHistory(HistoryBudget *budget)
    : m_Budget(budget), m_Open(false), m_Join(false), m_Joined(false), m_Joinable(false), m_StepsMade(0)
{
    if (m_Budget) m_Budget->Add(this);
}

LoopHistory::~LoopHistory()
{
    Clear();
    if (m_Budget) m_Budget->Remove(this);
}

void LoopHistory::Begin(const Sample &sound, int64_t length, bool join)
{
    m_Open = true;
    m_Joined = join && m_Joinable;
    m_Join = join;
    m_Joinable = false;
    m_Before.m_Sound.reset();
    if (!m_Budget || m_Joined) return;
    // A copy the budget could never hold would be dropped at once.
    const int64_t bytes = sound.m_Length * static_cast<int64_t>(sizeof(short));
    if (bytes > m_Budget->m_Limit) return;
    std::unique_ptr<Sample> copy(new (std::nothrow) Sample);
    if (!copy || !copy->Allocate(sound.GetLength())) {
        std::cerr << "No memory to keep the sound for undo; this change cannot be undone" << std::endl;
        return;
    }
    if (bytes > 0) std::memcpy(copy->GetBuffer(), sound.GetBuffer(), bytes);
    m_Before.m_Sound = std::move(copy);
    m_Before.m_Length = length;
}

void LoopHistory::BeginWith(std::unique_ptr<Sample> before, int64_t length)
{
    m_Open = true;
    m_Joined = m_Join = m_Joinable = false;
    m_Before.m_Sound.reset();
    if (!m_Budget || !before || before->m_Length * static_cast<int64_t>(sizeof(short)) > m_Budget->m_Limit)
        return;
    m_Before.m_Sound = std::move(before);
    m_Before.m_Length = length;
}

void LoopHistory::End(const Sample &sound, int64_t length)
{
    if (!m_Open) return;
    m_Open = false;
    if (m_Joined) {
        m_Joinable = true;
        return;
    }
    std::unique_ptr<Sample> before = std::move(m_Before.m_Sound);
    if (!before) return;
    const bool same = before->m_Length == sound.m_Length && m_Before.m_Length == length &&
                      (sound.m_Length == 0 || std::memcmp(before->GetBuffer(), sound.GetBuffer(),
                                                          sound.m_Length * sizeof(short)) == 0);
    if (same) return;
    // A new change takes the place of whatever had been undone.
    DropAll(m_Redo);
    Step step;
    step.m_Sound = std::move(before);
    step.m_Length = m_Before.m_Length;
    m_StepsMade++;
    m_Joinable = m_Join;
    Push(m_Undo, std::move(step));
}

void LoopHistory::Add(Sample &before, int64_t length)
{
    m_Joinable = false;
    const int64_t bytes = before.m_Length * static_cast<int64_t>(sizeof(short));
    if (!m_Budget || bytes > m_Budget->m_Limit) return;
    std::unique_ptr<Sample> kept(new (std::nothrow) Sample);
    if (!kept) return;
    std::swap(kept->m_Data, before.m_Data);
    std::swap(kept->m_Length, before.m_Length);
    DropAll(m_Redo);
    Step step;
    step.m_Sound = std::move(kept);
    step.m_Length = length;
    m_StepsMade++;
    Push(m_Undo, std::move(step));
}

bool LoopHistory::Undo(Sample &sound, int64_t &length)
{
    return Swap(m_Undo, m_Redo, sound, length);
}

bool LoopHistory::Redo(Sample &sound, int64_t &length)
{
    return Swap(m_Redo, m_Undo, sound, length);
}

bool LoopHistory::Swap(std::deque<Step> &from, std::deque<Step> &to, Sample &sound, int64_t &length)
{
    m_Joinable = false;
    if (from.empty()) return false;
    Step step = std::move(from.back());
    from.pop_back();
    if (m_Budget) m_Budget->Changed(-Bytes(step));
    // The sound and the step trade buffers: nothing is copied.
    std::swap(sound.m_Data, step.m_Sound->m_Data);
    std::swap(sound.m_Length, step.m_Sound->m_Length);
    std::swap(length, step.m_Length);
    Push(to, std::move(step));
    return true;
}

void LoopHistory::Push(std::deque<Step> &side, Step step)
{
    if (!m_Budget) return;
    if (!side.empty() && side.back().m_Uncounted) {
        std::cerr << "A sound of " << side.back().m_Sound->m_Length
                  << " samples is bigger than the undo memory: " << (&side == &m_Undo ? "undo" : "redo")
                  << " can no longer bring it back" << std::endl;
        side.pop_back();
    }
    step.m_Uncounted =
        step.m_Sound && step.m_Sound->m_Length * static_cast<int64_t>(sizeof(short)) > m_Budget->m_Limit;
    step.m_Stamp = m_Budget->NextStamp();
    const int64_t bytes = Bytes(step);
    side.push_back(std::move(step));
    m_Budget->Changed(bytes);
}

void LoopHistory::Clear()
{
    DropAll(m_Undo);
    DropAll(m_Redo);
    m_Before.m_Sound.reset();
    m_Open = false;
    m_Joinable = false;
}

void LoopHistory::DropAll(std::deque<Step> &side)
{
    int64_t bytes = 0;
    for (const Step &step : side)
        bytes += Bytes(step);
    side.clear();
    if (m_Budget && bytes > 0) m_Budget->Changed(-bytes);
}

int64_t LoopHistory::OldestStamp() const
{
    const Step *undo = Oldest(m_Undo), *redo = Oldest(m_Redo);
    if (!undo) return redo ? redo->m_Stamp : -1;
    return redo ? std::min(undo->m_Stamp, redo->m_Stamp) : undo->m_Stamp;
}

int64_t LoopHistory::DropOldest()
{
    const Step *undo = Oldest(m_Undo), *redo = Oldest(m_Redo);
    if (!undo && !redo) return 0;
    std::deque<Step> &side = undo && (!redo || undo->m_Stamp < redo->m_Stamp) ? m_Undo : m_Redo;
    const int64_t bytes = Bytes(side.front());
    side.pop_front();
    return bytes;
}

int64_t LoopHistory::Bytes(const Step &step)
{
    if (!step.m_Sound || step.m_Uncounted) return 0;
    return step.m_Sound->m_Length * static_cast<int64_t>(sizeof(short));
}

const LoopHistory::Step *LoopHistory::Oldest(const std::deque<Step> &side)
{
    // Only the nearest step can be uncounted: a side's counted steps come first.
    return side.empty() || side.front().m_Uncounted ? nullptr : &side.front();
}
