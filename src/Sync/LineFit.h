#ifndef LINE_FIT_H
#define LINE_FIT_H

#include <array>
#include <cstdint>

// A straight line fitted by least squares to the last N (x, y) points, both
// whole numbers: kept relative to the oldest point, so hours of frames or
// microseconds keep their precision in a double. Fixed memory; what the
// clocks that follow jittered ticks and late wake-ups share.
template <int N> class LineFit
{
public:
    void Clear() { m_Next = m_Count = 0; }
    // A point, the means fitted again; Slope then fits the slope.
    void Add(int64_t x, int64_t y)
    {
        m_X[m_Next] = x;
        m_Y[m_Next] = y;
        m_Next = (m_Next + 1) % N;
        if (m_Count < N) m_Count++;
        FitMeans();
    }
    int Count() const { return m_Count; }
    // The point so many back from the newest (0: the newest).
    int64_t X(int back) const { return m_X[(m_Next - 1 - back + 2 * N) % N]; }
    int64_t Y(int back) const { return m_Y[(m_Next - 1 - back + 2 * N) % N]; }
    // y at x on the line through the points' mean with that slope.
    double At(int64_t x, double slope) const
    {
        return static_cast<double>(m_BaseY) + m_MeanY + (static_cast<double>(x - m_BaseX) - m_MeanX) * slope;
    }
    // The least-squares slope; false while the points give none.
    bool Slope(double &slope) const
    {
        double across = 0, square = 0;
        for (int i = 0; i < m_Count; i++) {
            const int at = (First() + i) % N;
            const double x = static_cast<double>(m_X[at] - m_BaseX) - m_MeanX;
            across += x * (static_cast<double>(m_Y[at] - m_BaseY) - m_MeanY);
            square += x * x;
        }
        if (square <= 0) return false;
        slope = across / square;
        return true;
    }

private:
    int First() const { return (m_Next - m_Count + N) % N; }
    void FitMeans()
    {
        m_BaseX = m_X[First()];
        m_BaseY = m_Y[First()];
        double sumX = 0, sumY = 0;
        for (int i = 0; i < m_Count; i++) {
            const int at = (First() + i) % N;
            sumX += static_cast<double>(m_X[at] - m_BaseX);
            sumY += static_cast<double>(m_Y[at] - m_BaseY);
        }
        m_MeanX = sumX / m_Count;
        m_MeanY = sumY / m_Count;
    }

    std::array<int64_t, N> m_X{};
    std::array<int64_t, N> m_Y{};
    int m_Next = 0;
    int m_Count = 0;
    int64_t m_BaseX = 0;
    int64_t m_BaseY = 0;
    double m_MeanX = 0;
    double m_MeanY = 0;
};

#endif
