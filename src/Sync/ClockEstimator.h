#ifndef CLOCK_ESTIMATOR_H
#define CLOCK_ESTIMATOR_H

#include "Sync/LineFit.h"

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
    bool Ready() const { return m_Fit.Count() >= MinTicks; }
    // Frames between ticks, and the frame where the tick of that number falls.
    double FramesPerTick() const { return m_Slope; }
    double FrameOf(int64_t index) const;

    static constexpr int Window = 384; // four bars of 4/4 at 24 ticks a beat
    static constexpr int MinTicks = 12;

private:
    LineFit<Window> m_Fit; // frame against tick number
    int m_Misses = 0;
    double m_Slope = 0;
};

#endif
