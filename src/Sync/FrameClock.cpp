#include "Sync/FrameClock.h"

#include <algorithm>
#include <cmath>

void FrameClock::Reset(int rate)
{
    m_Rate = rate;
    m_Fit.Clear();
    m_Misses = 0;
    m_Nominal = m_Slope = rate > 0 ? 1e6 / rate : 0;
}

double FrameClock::MicrosAt(int64_t frame) const
{
    return m_Fit.At(frame, m_Slope);
}

void FrameClock::Add(int64_t frame, int64_t micros)
{
    if (m_Fit.Count() > 0) {
        const bool back = frame <= m_Fit.X(0);
        const bool off = std::fabs(micros - MicrosAt(frame)) > JumpMicros;
        m_Misses = off ? m_Misses + 1 : 0;
        if (back || m_Misses >= 3) {
            Reset(m_Rate);
        } else if (off) {
            return; // one late wake-up says nothing yet
        }
    }
    m_Fit.Add(frame, micros);
    double slope = 0;
    // Sound cards keep their rate to a few hundred parts in a million; a
    // steeper line is a few late wake-ups pulling at the window's end.
    if (m_Fit.Count() >= MinPoints && m_Fit.Slope(slope))
        m_Slope = std::clamp(slope, m_Nominal * (1 - 5e-4), m_Nominal * (1 + 5e-4));
}
