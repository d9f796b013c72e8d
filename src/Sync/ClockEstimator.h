#ifndef CLOCK_ESTIMATOR_H
#define CLOCK_ESTIMATOR_H

#include <array>
#include <cstdint>

// Where an incoming clock's ticks fall, from the frames they arrived at: a
// straight line fitted to the last ticks by least squares, so a clock whose
// ticks jitter by a millisecond or more still gives a steady tempo and a
// phase to a fraction of that. A tick far off the line three times running
// is a new tempo: the fit starts again from those ticks. Fixed memory; runs
// on the audio thread.
class ClockEstimator
{
public:
    void Reset();
    // A tick, numbered by its sender's count, arrived at the frame.
    void Tick(int64_t index, int64_t frame);
    bool Ready() const { return m_Count >= MinTicks; }
    // Frames between ticks, and the frame where the tick of that number falls.
    double FramesPerTick() const { return m_Slope; }
    double FrameOf(int64_t index) const;

    static constexpr int Window = 384; // four bars of 4/4 at 24 ticks a beat
    static constexpr int MinTicks = 12;

private:
    void Fit();

    std::array<int64_t, Window> m_Index{};
    std::array<int64_t, Window> m_Frame{};
    int m_Next = 0;
    int m_Count = 0;
    int m_Misses = 0;
    double m_Slope = 0;
    // The line through (m_MeanIndex, m_MeanFrame), kept relative for precision.
    double m_MeanIndex = 0;
    double m_MeanFrame = 0;
    int64_t m_BaseIndex = 0;
    int64_t m_BaseFrame = 0;
};

#endif
