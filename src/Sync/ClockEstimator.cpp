#include "Sync/ClockEstimator.h"

#include <cmath>

void ClockEstimator::Reset()
{
    m_Next = m_Count = m_Misses = 0;
    m_Slope = 0;
}

double ClockEstimator::FrameOf(int64_t index) const
{
    return m_BaseFrame + m_MeanFrame + (static_cast<double>(index - m_BaseIndex) - m_MeanIndex) * m_Slope;
}

void ClockEstimator::Tick(int64_t index, int64_t frame)
{
    if (Ready()) {
        const double off = std::fabs(frame - FrameOf(index));
        m_Misses = off > m_Slope / 4 ? m_Misses + 1 : 0;
        if (m_Misses >= 3) {
            // Keep only the ticks that missed: they are the new tempo's.
            const int kept = m_Misses - 1;
            std::array<int64_t, 2> index2{}, frame2{};
            for (int i = 0; i < kept; i++) {
                const int at = (m_Next - kept + i + Window) % Window;
                index2[i] = m_Index[at];
                frame2[i] = m_Frame[at];
            }
            Reset();
            for (int i = 0; i < kept; i++) {
                m_Index[i] = index2[i];
                m_Frame[i] = frame2[i];
            }
            m_Next = m_Count = kept;
        }
    }
    m_Index[m_Next] = index;
    m_Frame[m_Next] = frame;
    m_Next = (m_Next + 1) % Window;
    if (m_Count < Window) m_Count++;
    Fit();
}

void ClockEstimator::Fit()
{
    const int first = (m_Next - m_Count + Window) % Window;
    m_BaseIndex = m_Index[first];
    m_BaseFrame = m_Frame[first];
    double sumIndex = 0, sumFrame = 0;
    for (int i = 0; i < m_Count; i++) {
        const int at = (first + i) % Window;
        sumIndex += static_cast<double>(m_Index[at] - m_BaseIndex);
        sumFrame += static_cast<double>(m_Frame[at] - m_BaseFrame);
    }
    m_MeanIndex = sumIndex / m_Count;
    m_MeanFrame = sumFrame / m_Count;
    double across = 0, square = 0;
    for (int i = 0; i < m_Count; i++) {
        const int at = (first + i) % Window;
        const double x = static_cast<double>(m_Index[at] - m_BaseIndex) - m_MeanIndex;
        across += x * (static_cast<double>(m_Frame[at] - m_BaseFrame) - m_MeanFrame);
        square += x * x;
    }
    if (square > 0) m_Slope = across / square;
}
