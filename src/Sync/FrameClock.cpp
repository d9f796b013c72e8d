#include "Sync/FrameClock.h"

#include <algorithm>
#include <cmath>

void FrameClock::Reset(int rate)
{
    m_Rate = rate;
    m_Next = m_Count = m_Misses = 0;
    m_Nominal = m_Slope = rate > 0 ? 1e6 / rate : 0;
}

double FrameClock::MicrosAt(int64_t frame) const
{
    return static_cast<double>(m_BaseMicros) + m_MeanMicros +
           (static_cast<double>(frame - m_BaseFrame) - m_MeanFrame) * m_Slope;
}

void FrameClock::Add(int64_t frame, int64_t micros)
{
    if (m_Count > 0) {
        const bool back = frame <= m_Frame[(m_Next + Window - 1) % Window];
        const bool off = std::fabs(micros - MicrosAt(frame)) > JumpMicros;
        m_Misses = off ? m_Misses + 1 : 0;
        if (back || m_Misses >= 3) {
            Reset(m_Rate);
        } else if (off) {
            return; // one late wake-up says nothing yet
        }
    }
    m_Frame[m_Next] = frame;
    m_Micros[m_Next] = micros;
    m_Next = (m_Next + 1) % Window;
    m_Count = std::min(m_Count + 1, Window);
    Fit();
}

void FrameClock::Fit()
{
    // Relative to the oldest pair, so hours of frames and microseconds keep
    // their precision in a double.
    const int first = (m_Next - m_Count + Window) % Window;
    m_BaseFrame = m_Frame[first];
    m_BaseMicros = m_Micros[first];
    double sumFrame = 0, sumMicros = 0;
    for (int i = 0; i < m_Count; i++) {
        const int at = (first + i) % Window;
        sumFrame += static_cast<double>(m_Frame[at] - m_BaseFrame);
        sumMicros += static_cast<double>(m_Micros[at] - m_BaseMicros);
    }
    m_MeanFrame = sumFrame / m_Count;
    m_MeanMicros = sumMicros / m_Count;
    if (m_Count < MinPoints) return;
    double across = 0, square = 0;
    for (int i = 0; i < m_Count; i++) {
        const int at = (first + i) % Window;
        const double x = static_cast<double>(m_Frame[at] - m_BaseFrame) - m_MeanFrame;
        across += x * (static_cast<double>(m_Micros[at] - m_BaseMicros) - m_MeanMicros);
        square += x * x;
    }
    // Sound cards keep their rate to a few hundred parts in a million; a
    // steeper line is a few late wake-ups pulling at the window's end.
    if (square > 0) m_Slope = std::clamp(across / square, m_Nominal * (1 - 5e-4), m_Nominal * (1 + 5e-4));
}
