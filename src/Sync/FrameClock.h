#ifndef FRAME_CLOCK_H
#define FRAME_CLOCK_H

#include "Sync/LineFit.h"

#include <cstdint>

// When an engine frame happens on the host's clock: a straight line fitted
// by least squares to the (frame, host time) pairs of the last blocks. A
// block is made late by however the audio thread was woken, by a millisecond
// or more; the line is steady to a small part of that, and its slope follows
// the sound card's clock against the host's. Fixed memory; audio thread.
class FrameClock
{
public:
    // Forget the pairs; until enough come, the line has the slope of the rate.
    void Reset(int rate);
    // The block starting at the frame was made at the host time (µs).
    void Add(int64_t frame, int64_t micros);
    double MicrosAt(int64_t frame) const;
    double MicrosPerFrame() const { return m_Slope; }

    static constexpr int Window = 1024;
    static constexpr int MinPoints = 16;
    // Farther off the line than this, three blocks running (the engine was
    // held, or the frames began again), and the line starts afresh.
    static constexpr double JumpMicros = 50000;

private:
    LineFit<Window> m_Fit; // host time against frame
    int m_Misses = 0;
    int m_Rate = 0;
    double m_Nominal = 0;
    double m_Slope = 0;
};

#endif
