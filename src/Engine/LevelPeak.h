#ifndef LEVEL_PEAK_H
#define LEVEL_PEAK_H

#include <atomic>
#include <cstdlib>

// The loudest value the audio thread saw since the windows last looked, for
// a level meter.
class LevelPeak
{
public:
    // Audio thread.
    void Note(const short *values, int count)
    {
        int peak = 0;
        for (int i = 0; i < count; i++) {
            const int value = std::abs(static_cast<int>(values[i]));
            if (value > peak) peak = value;
        }
        if (peak > m_Peak.load(std::memory_order_relaxed)) m_Peak.store(peak, std::memory_order_relaxed);
    }
    // GUI thread: the peak, starting afresh.
    int Take() { return m_Peak.exchange(0, std::memory_order_relaxed); }
    // GUI thread: the peak so far, left for the next Take.
    int Peek() const { return m_Peak.load(std::memory_order_relaxed); }

private:
    std::atomic<int> m_Peak{0};
};

#endif
