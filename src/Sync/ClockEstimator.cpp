#include "Sync/ClockEstimator.h"

#include <cmath>

void ClockEstimator::Reset()
{
    m_Fit.Clear();
    m_Misses = 0;
    m_Slope = 0;
}

double ClockEstimator::FrameOf(int64_t index) const
{
    return m_Fit.At(index, m_Slope);
}

void ClockEstimator::Tick(int64_t index, int64_t frame)
{
    if (Ready()) {
        const double off = std::fabs(frame - FrameOf(index));
        m_Misses = off > m_Slope / 4 ? m_Misses + 1 : 0;
        if (m_Misses >= 3) {
            // Keep only the ticks that missed: they are the new tempo's.
            const int kept = m_Misses - 1;
            int64_t indexes[2] = {}, frames[2] = {};
            for (int back = 0; back < kept; back++) {
                indexes[back] = m_Fit.X(back);
                frames[back] = m_Fit.Y(back);
            }
            Reset();
            for (int back = kept - 1; back >= 0; back--)
                m_Fit.Add(indexes[back], frames[back]);
        }
    }
    m_Fit.Add(index, frame);
    m_Fit.Slope(m_Slope);
}
