#ifndef LOOP_HISTORY_H
#define LOOP_HISTORY_H

#include "KorvelSound/Sample.h"

#include <cstdint>
#include <deque>
#include <memory>

class HistoryBudget;

// The earlier and later states of one loop's sound (the samples and the play
// length), for undo and redo. A change copies the state before it (Begin)
// and becomes a step only if it changed something (End). Undo and redo swap
// the loop's buffer with a step's, so they copy nothing. Without a budget
// nothing is kept.
class LoopHistory
{
public:
    explicit LoopHistory(HistoryBudget *budget);
    ~LoopHistory();
    LoopHistory(const LoopHistory &) = delete;
    LoopHistory &operator=(const LoopHistory &) = delete;

    // A joining change adds to the step that the previous joining change
    // made, if nothing came between: one drag of the sound is one step.
    void Begin(const Sample &sound, int64_t length, bool join = false);
    // A change whose earlier state was kept ready before it began (a take
    // the engine started): the copy becomes the state before, nothing is copied.
    void BeginWith(std::unique_ptr<Sample> before, int64_t length);
    void End(const Sample &sound, int64_t length);
    bool Changing() const { return m_Open; }
    // A change already made whose earlier sound is handed over whole (a
    // loaded file's): it becomes the step and nothing is copied.
    void Add(Sample &before, int64_t length);
    bool Undo(Sample &sound, int64_t &length);
    bool Redo(Sample &sound, int64_t &length);
    void Clear();

    size_t UndoSteps() const { return m_Undo.size(); }
    // Grows by one with every step made, dropped or not.
    int64_t StepsMade() const { return m_StepsMade; }

    // For the budget: the stamp of the oldest step (-1 for none), and
    // dropping that step, which returns the bytes it held.
    int64_t OldestStamp() const;
    int64_t DropOldest();

private:
    struct Step
    {
        std::unique_ptr<Sample> m_Sound;
        int64_t m_Length = 0;
        int64_t m_Stamp = 0;
        // A sound bigger than the whole budget that undo or redo moved here:
        // it is not counted, and stays only while it is the nearest step of
        // its side, so what the next undo or redo brings back is never lost.
        bool m_Uncounted = false;
    };
    // The bytes a step counts against the budget.
    static int64_t Bytes(const Step &step);
    // The oldest step of a side that counts, or null.
    static const Step *Oldest(const std::deque<Step> &side);
    void Push(std::deque<Step> &side, Step step);
    bool Swap(std::deque<Step> &from, std::deque<Step> &to, Sample &sound, int64_t &length);
    void DropAll(std::deque<Step> &side);

    HistoryBudget *m_Budget;
    std::deque<Step> m_Undo; // the most recent at the back
    std::deque<Step> m_Redo; // the next to redo at the back
    Step m_Before;           // the state before the open change
    bool m_Open;
    bool m_Join;
    bool m_Joined;
    bool m_Joinable;
    int64_t m_StepsMade;
};

#endif
