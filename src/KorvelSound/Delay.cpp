#include "KorvelSound/Delay.h"

#include "KorvelInfo.h"
#include "KorvelSound/SampleClamp.h"

#include <algorithm>

// Fixed at the built-in rate before the resource file is read, so a
// configured sample rate never changes the line length.
const int MaxDelay = KorvelInfo::Samplerate;

namespace {

// Where a line position goes after one value: back to 0 once it has reached
// the line length n, so the echo period is n + 1 values.
inline int64_t NextPosition(int64_t position, int64_t length)
{
    return position >= length ? 0 : position + 1;
}

// The position after the given number of steps, without stepping through them.
int64_t AdvancePosition(int64_t position, int64_t length, int64_t steps)
{
    if (steps <= 0) return position;
    position = NextPosition(position, length);
    steps--;
    if (length <= 0) return 0;
    return (position + steps) % (length + 1);
}

// Values a line can take from its position before it wraps (at least one).
inline int64_t RunBeforeWrap(int64_t position, int64_t length)
{
    return position >= length ? 1 : length - position + 1;
}

// One run of values that walks a line without wrapping: each value becomes
// itself plus the line's old content times the feedback, and so does the line.
inline void FeedbackRun(short *data, int stride, short *line, int count, float feedback)
{
    for (int k = 0; k < count; k++) {
        short value = ClampSample(static_cast<float>(data[k * stride]) + static_cast<float>(line[k]) * feedback);
        line[k] = value;
        data[k * stride] = value;
    }
}

} // namespace

Delay::Delay()
    : m_LeftLine(MaxDelay), m_RightLine(MaxDelay), m_LeftPos(0), m_RightPos(0), m_DelayL(0.5f),
      m_DelayR(0.5f), m_Feedback(0.5f), m_Channels(1), m_Bypass(true)
{
    for (int i = 0; i < MaxDelay; i++) {
        m_LeftLine[i] = 0;
        m_RightLine[i] = 0;
    }
}

Delay::~Delay()
{
    m_RightLine.Clear();
    m_LeftLine.Clear();
}

void Delay::Process(Sample &data)
{
    const int total = m_Channels * KorvelInfo::BufferSize;
    if (m_Bypass || total < 1) return;

    const int64_t lengthL = static_cast<int64_t>(m_DelayL * static_cast<float>(MaxDelay - 1));
    const int64_t lengthR = static_cast<int64_t>(m_DelayR * static_cast<float>(MaxDelay - 1));

    // A time above 1 (or a damaged position) can walk off a line; only the
    // value-by-value path stops at exactly the access that fails.
    const bool linesHold = lengthL < m_LeftLine.m_Length && lengthR < m_RightLine.m_Length && m_LeftPos >= 0 &&
                           m_LeftPos < m_LeftLine.m_Length && m_RightPos >= 0 && m_RightPos < m_RightLine.m_Length;
    if (!linesHold) {
        ProcessEachValue(data, lengthL, lengthR);
        return;
    }

    // A short block ends the program with the message element access gives.
    (void)data[total - 1];

    short *values = data.GetBuffer();
    const float feedback = m_Feedback;
    if (m_Channels == 2) {
        const int steps = total / 2;
        int step = 0;
        while (step < steps) {
            int64_t run = std::min(RunBeforeWrap(m_LeftPos, lengthL), RunBeforeWrap(m_RightPos, lengthR));
            int count = static_cast<int>(std::min<int64_t>(run, steps - step));
            FeedbackRun(values + 2 * step, 2, m_LeftLine.GetBuffer() + m_LeftPos, count, feedback);
            FeedbackRun(values + 2 * step + 1, 2, m_RightLine.GetBuffer() + m_RightPos, count, feedback);
            m_LeftPos = AdvancePosition(m_LeftPos, lengthL, count);
            m_RightPos = AdvancePosition(m_RightPos, lengthR, count);
            step += count;
        }
        return;
    }

    int step = 0;
    while (step < total) {
        int count = static_cast<int>(std::min<int64_t>(RunBeforeWrap(m_LeftPos, lengthL), total - step));
        FeedbackRun(values + step, 1, m_LeftLine.GetBuffer() + m_LeftPos, count, feedback);
        m_LeftPos = AdvancePosition(m_LeftPos, lengthL, count);
        step += count;
    }
    // The right line is silent in mono but keeps time all the same.
    m_RightPos = AdvancePosition(m_RightPos, lengthR, total);
}

void Delay::ProcessEachValue(Sample &data, int64_t lengthL, int64_t lengthR)
{
    const int total = m_Channels * KorvelInfo::BufferSize;
    int i = 0;
    do {
        short left = ClampSample(static_cast<float>(data[i]) +
                                 static_cast<float>(m_LeftLine[static_cast<int>(m_LeftPos)]) * m_Feedback);
        m_LeftLine[static_cast<int>(m_LeftPos)] = left;
        data[i] = left;
        if (m_Channels == 2) {
            short right = ClampSample(static_cast<float>(data[i + 1]) +
                                      static_cast<float>(m_RightLine[static_cast<int>(m_RightPos)]) * m_Feedback);
            m_RightLine[static_cast<int>(m_RightPos)] = right;
            data[i + 1] = right;
            i += 2;
        } else {
            i += 1;
        }
        m_LeftPos = NextPosition(m_LeftPos, lengthL);
        m_RightPos = NextPosition(m_RightPos, lengthR);
    } while (i < total);
}
