#include "KorvelSound/Delay.h"

#include "KorvelInfo.h"
#include "KorvelSound/SampleClamp.h"
#include "KorvelSound/SampleVectors.h"

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

// One value through the line: itself plus the line's old content times the
// feedback, stored in both.
inline void FeedbackStep(short &value, short &line, float feedback)
{
    short result = ClampSample(static_cast<float>(value) + static_cast<float>(line) * feedback);
    line = result;
    value = result;
}

#if defined(__SSE2__)
using namespace SampleVectors;

// Eight values at once, with exactly the single-precision operations of
// FeedbackStep: widen, multiply-add, clamp, truncate.
inline __m128i FeedbackEight(__m128i input, __m128i old, __m128 feedback)
{
    const __m128 high = _mm_set1_ps(static_cast<float>(KorvelInfo::MaxSampleValue));
    const __m128 low = _mm_set1_ps(static_cast<float>(-KorvelInfo::MaxSampleValue));
    __m128 sumLow = _mm_add_ps(WidenLow(input), _mm_mul_ps(WidenLow(old), feedback));
    __m128 sumHigh = _mm_add_ps(WidenHigh(input), _mm_mul_ps(WidenHigh(old), feedback));
    sumLow = _mm_min_ps(_mm_max_ps(sumLow, low), high);
    sumHigh = _mm_min_ps(_mm_max_ps(sumHigh, low), high);
    return _mm_packs_epi32(_mm_cvttps_epi32(sumLow), _mm_cvttps_epi32(sumHigh));
}

// The left (even) or right (odd) values of eight interleaved frames.
inline __m128i EvenValues(__m128i first, __m128i second)
{
    return _mm_packs_epi32(_mm_srai_epi32(_mm_slli_epi32(first, 16), 16),
                           _mm_srai_epi32(_mm_slli_epi32(second, 16), 16));
}

inline __m128i OddValues(__m128i first, __m128i second)
{
    return _mm_packs_epi32(_mm_srai_epi32(first, 16), _mm_srai_epi32(second, 16));
}
#endif

// A run of mono values that walks a line without wrapping. A value and the
// line content it meets never depend on another value of the run, so eight
// go at once where the processor allows.
inline void FeedbackRun(short *values, short *line, int count, float feedback)
{
    int k = 0;
#if defined(__SSE2__)
    const __m128 factor = _mm_set1_ps(feedback);
    for (; k + 8 <= count; k += 8) {
        __m128i result = FeedbackEight(Load(values + k), Load(line + k), factor);
        Store(line + k, result);
        Store(values + k, result);
    }
#endif
    for (; k < count; k++)
        FeedbackStep(values[k], line[k], feedback);
}

// Values through a line of one sample: each result is the next value's line
// content, so they go one after another. Returns what the line holds after.
short FeedbackChain(short *values, int count, short line, float feedback)
{
#if defined(__SSE2__)
    // The result stays in a vector register between steps: converting through
    // a general register would lengthen every step of the chain.
    const __m128 high = _mm_set_ss(static_cast<float>(KorvelInfo::MaxSampleValue));
    const __m128 low = _mm_set_ss(static_cast<float>(-KorvelInfo::MaxSampleValue));
    const __m128 factor = _mm_set_ss(feedback);
    __m128 last = _mm_set_ss(static_cast<float>(line));
    for (int k = 0; k < count; k++) {
        __m128 sum = _mm_add_ss(_mm_set_ss(static_cast<float>(values[k])), _mm_mul_ss(last, factor));
        __m128i result = _mm_cvttps_epi32(_mm_min_ss(_mm_max_ss(sum, low), high));
        last = _mm_cvtepi32_ps(result);
        values[k] = static_cast<short>(_mm_cvtsi128_si32(result));
    }
    return count > 0 ? values[count - 1] : line;
#else
    for (int k = 0; k < count; k++)
        FeedbackStep(values[k], line, feedback);
    return line;
#endif
}

// Fetches the cache lines of count values from position on, wrapping as the
// position will.
void PrefetchLine(const Sample &line, int64_t position, int64_t length, int count)
{
    const int64_t valuesPerCacheLine = 64 / sizeof(short);
    if (position < 0 || position >= line.m_Length) return;
    const int64_t last = std::min(std::max(length, position), line.m_Length - 1);
    const int64_t first = std::min<int64_t>(last - position + 1, count);
    const short *values = line.GetBuffer();
    for (int64_t p = position; p < position + first; p += valuesPerCacheLine)
        __builtin_prefetch(values + p, 1);
    const int64_t rest = std::min<int64_t>(count - first, last + 1);
    for (int64_t p = 0; p < rest; p += valuesPerCacheLine)
        __builtin_prefetch(values + p, 1);
}

// The same for interleaved stereo frames, each side with its own line.
inline void FeedbackRunStereo(short *frames, short *left, short *right, int count, float feedback)
{
    int k = 0;
#if defined(__SSE2__)
    // Eight frames at once: the two lines are interleaved to meet the frames
    // and taken apart again afterwards.
    const __m128 factor = _mm_set1_ps(feedback);
    for (; k + 8 <= count; k += 8) {
        __m128i oldLeft = Load(left + k);
        __m128i oldRight = Load(right + k);
        __m128i first = FeedbackEight(Load(frames + 2 * k), _mm_unpacklo_epi16(oldLeft, oldRight), factor);
        __m128i second =
            FeedbackEight(Load(frames + 2 * k + 8), _mm_unpackhi_epi16(oldLeft, oldRight), factor);
        Store(frames + 2 * k, first);
        Store(frames + 2 * k + 8, second);
        Store(left + k, EvenValues(first, second));
        Store(right + k, OddValues(first, second));
    }
#endif
    for (; k < count; k++) {
        FeedbackStep(frames[2 * k], left[k], feedback);
        FeedbackStep(frames[2 * k + 1], right[k], feedback);
    }
}

// Most stages a series passes together; a reverb has five.
const int MaxSeriesStages = 8;

#if defined(__SSE2__)
// A value already within the sample range truncated toward zero, as a float.
// Processors with SSE4.1 do it in one step instead of two conversions, which
// shortens every step of a one-sample line's chain.
template <bool RoundInstruction> inline __m128 TruncateStep(__m128 value);

template <> inline __m128 TruncateStep<false>(__m128 value)
{
    return _mm_cvtepi32_ps(_mm_cvttps_epi32(value));
}

template <> inline __m128 TruncateStep<true>(__m128 value)
{
    // roundss with rounding toward zero; written out so the rest of the
    // program needs no SSE4.1.
    __asm__("roundss $3, %1, %0" : "=x"(value) : "x"(value));
    return value;
}

// Values through a one-sample line and then through further lines in series.
// The first line makes every value wait for the one before (a step takes the
// whole latency of a multiply, an add and two conversions); the further lines
// take eight values at a time from each finished group while the next group
// is still in the first line, so their work hides in that wait. Every value
// sees exactly the operations of FeedbackChain and FeedbackRun.
template <bool RoundInstruction>
__attribute__((always_inline)) inline void ProcessBehindOneSampleLine(Delay *const *stages, int count,
                                                                      short *values, int total)
{
    Delay &first = *stages[0];
    int64_t length[MaxSeriesStages], position[MaxSeriesStages];
    for (int s = 1; s < count; s++) {
        length[s] = static_cast<int64_t>(stages[s]->m_DelayL * static_cast<float>(MaxDelay - 1));
        position[s] = stages[s]->m_LeftPos;
    }
    const __m128 high = _mm_set_ss(static_cast<float>(KorvelInfo::MaxSampleValue));
    const __m128 low = _mm_set_ss(static_cast<float>(-KorvelInfo::MaxSampleValue));
    const __m128 factor = _mm_set_ss(first.m_Feedback);
    short line = first.m_LeftLine.GetBuffer()[0];

    int done = 0;
    while (done < total) {
        int64_t run = total - done;
        for (int s = 1; s < count; s++)
            run = std::min(run, RunBeforeWrap(position[s], length[s]));
        const int groups = static_cast<int>(run - run % 8);
        if (groups == 0) {
            // A line wraps within the next eight values: one value at a time up to it.
            FeedbackStep(values[done], line, first.m_Feedback);
            for (int s = 1; s < count; s++) {
                FeedbackStep(values[done], stages[s]->m_LeftLine.GetBuffer()[position[s]],
                             stages[s]->m_Feedback);
                position[s] = NextPosition(position[s], length[s]);
            }
            done++;
            continue;
        }
        __m128 last = _mm_set_ss(static_cast<float>(line));
        for (int g = done; g < done + groups; g += 8) {
            __m128 step[8];
            for (int k = 0; k < 8; k++) {
                __m128 sum =
                    _mm_add_ss(_mm_set_ss(static_cast<float>(values[g + k])), _mm_mul_ss(last, factor));
                last = TruncateStep<RoundInstruction>(_mm_min_ss(_mm_max_ss(sum, low), high));
                step[k] = last;
            }
            __m128 lowHalf =
                _mm_movelh_ps(_mm_unpacklo_ps(step[0], step[1]), _mm_unpacklo_ps(step[2], step[3]));
            __m128 highHalf =
                _mm_movelh_ps(_mm_unpacklo_ps(step[4], step[5]), _mm_unpacklo_ps(step[6], step[7]));
            __m128i result = _mm_packs_epi32(_mm_cvttps_epi32(lowHalf), _mm_cvttps_epi32(highHalf));
            for (int s = 1; s < count; s++) {
                short *old = stages[s]->m_LeftLine.GetBuffer() + position[s] + (g - done);
                const __m128i content = Load(old);
                const __m128 feedback = _mm_set1_ps(stages[s]->m_Feedback);
                const __m128 high4 = _mm_set1_ps(static_cast<float>(KorvelInfo::MaxSampleValue));
                const __m128 low4 = _mm_set1_ps(static_cast<float>(-KorvelInfo::MaxSampleValue));
                __m128 sumLow = _mm_add_ps(lowHalf, _mm_mul_ps(WidenLow(content), feedback));
                __m128 sumHigh = _mm_add_ps(highHalf, _mm_mul_ps(WidenHigh(content), feedback));
                const __m128i truncLow = _mm_cvttps_epi32(_mm_min_ps(_mm_max_ps(sumLow, low4), high4));
                const __m128i truncHigh = _mm_cvttps_epi32(_mm_min_ps(_mm_max_ps(sumHigh, low4), high4));
                result = _mm_packs_epi32(truncLow, truncHigh);
                Store(old, result);
                lowHalf = _mm_cvtepi32_ps(truncLow);
                highHalf = _mm_cvtepi32_ps(truncHigh);
            }
            Store(values + g, result);
        }
        line = static_cast<short>(_mm_cvtsi128_si32(_mm_cvttps_epi32(last)));
        for (int s = 1; s < count; s++)
            position[s] = NextPosition(position[s] + groups - 1, length[s]);
        done += groups;
    }

    first.m_LeftLine.GetBuffer()[0] = line;
    for (int s = 0; s < count; s++) {
        Delay &stage = *stages[s];
        if (s > 0) stage.m_LeftPos = position[s];
        // The right lines are silent in mono but keep time all the same.
        stage.m_RightPos = AdvancePosition(
            stage.m_RightPos, static_cast<int64_t>(stage.m_DelayR * static_cast<float>(MaxDelay - 1)), total);
    }
}

void ProcessBehindOneSampleLineSse41(Delay *const *stages, int count, short *values, int total)
{
    ProcessBehindOneSampleLine<true>(stages, count, values, total);
}

void ProcessBehindOneSampleLineSse2(Delay *const *stages, int count, short *values, int total)
{
    ProcessBehindOneSampleLine<false>(stages, count, values, total);
}
#endif

} // namespace

Delay::Delay()
    : m_LeftLine(MaxDelay), m_RightLine(MaxDelay), m_LeftPos(0), m_RightPos(0), m_DelayL(0.5f),
      m_DelayR(0.5f), m_Feedback(0.5f), m_Channels(1), m_Bypass(true)
{
    // One pass each: every loop builds six delay lines of a second each.
    m_LeftLine.Zero();
    m_RightLine.Zero();
}

Delay::~Delay()
{
    m_RightLine.Clear();
    m_LeftLine.Clear();
}

void Delay::Prefetch() const
{
    const int steps = KorvelInfo::BufferSize;
    if (m_Bypass || steps < 1) return;
    const int64_t lengthL = static_cast<int64_t>(m_DelayL * static_cast<float>(MaxDelay - 1));
    const int64_t lengthR = static_cast<int64_t>(m_DelayR * static_cast<float>(MaxDelay - 1));
    const int perLine = m_Channels == 2 ? steps : m_Channels * steps;
    PrefetchLine(m_LeftLine, m_LeftPos, lengthL, perLine);
    if (m_Channels == 2) PrefetchLine(m_RightLine, m_RightPos, lengthR, perLine);
}

void Delay::Process(Sample &data)
{
    const int total = m_Channels * KorvelInfo::BufferSize;
    if (m_Bypass || total < 1) return;

    const int64_t lengthL = LineLength(m_DelayL);
    const int64_t lengthR = LineLength(m_DelayR);

    // A time above 1 (or a damaged position) can walk off a line; only the
    // value-by-value path stops at exactly the access that fails.
    if (!LinesHold(lengthL, lengthR)) {
        ProcessEachValue(data, lengthL, lengthR);
        return;
    }

    // A short block ends the program with the message element access gives.
    (void)data[total - 1];

    short *values = data.GetBuffer();
    const float feedback = m_Feedback;
    if (m_Channels == 2) {
        const int frames = total / 2;
        int frame = 0;
        while (frame < frames) {
            int64_t run = std::min(RunBeforeWrap(m_LeftPos, lengthL), RunBeforeWrap(m_RightPos, lengthR));
            int count = static_cast<int>(std::min<int64_t>(run, frames - frame));
            FeedbackRunStereo(values + 2 * frame, m_LeftLine.GetBuffer() + m_LeftPos,
                              m_RightLine.GetBuffer() + m_RightPos, count, feedback);
            m_LeftPos = NextPosition(m_LeftPos + count - 1, lengthL);
            m_RightPos = NextPosition(m_RightPos + count - 1, lengthR);
            frame += count;
        }
        return;
    }

    short *line = m_LeftLine.GetBuffer();
    int step = 0;
    while (step < total) {
        if (lengthL <= 0 && m_LeftPos == 0) {
            // A line of one sample: every value feeds the next.
            line[0] = FeedbackChain(values + step, total - step, line[0], feedback);
            break;
        }
        int count = static_cast<int>(std::min<int64_t>(RunBeforeWrap(m_LeftPos, lengthL), total - step));
        FeedbackRun(values + step, line + m_LeftPos, count, feedback);
        m_LeftPos = NextPosition(m_LeftPos + count - 1, lengthL);
        step += count;
    }
    // The right line is silent in mono but keeps time all the same.
    m_RightPos = AdvancePosition(m_RightPos, lengthR, total);
}

int64_t Delay::LineLength(float time) const
{
    return static_cast<int64_t>(time * static_cast<float>(MaxDelay - 1));
}

bool Delay::LinesHold(int64_t lengthL, int64_t lengthR) const
{
    return lengthL < m_LeftLine.m_Length && lengthR < m_RightLine.m_Length && m_LeftPos >= 0 &&
           m_LeftPos < m_LeftLine.m_Length && m_RightPos >= 0 && m_RightPos < m_RightLine.m_Length;
}

void Delay::ProcessSeries(Delay *const *stages, int count, Sample &data)
{
    const int B = KorvelInfo::BufferSize;
    bool together = count > 1 && count <= MaxSeriesStages && B > 0 && data.m_Length >= B;
    for (int s = 0; together && s < count; s++) {
        const Delay &stage = *stages[s];
        const int64_t length = stage.LineLength(stage.m_DelayL);
        together = stage.m_Channels == 1 && !stage.m_Bypass &&
                   stage.LinesHold(length, stage.LineLength(stage.m_DelayR));
        // The first line must be of one sample, the others long enough for
        // eight values to pass without meeting one of their own.
        together = together && (s == 0 ? length <= 0 && stage.m_LeftPos == 0 : length >= 7);
    }
#if defined(__SSE2__)
    if (together) {
        static const bool roundInstruction = (__builtin_cpu_init(), __builtin_cpu_supports("sse4.1"));
        if (roundInstruction)
            ProcessBehindOneSampleLineSse41(stages, count, data.GetBuffer(), B);
        else
            ProcessBehindOneSampleLineSse2(stages, count, data.GetBuffer(), B);
        return;
    }
#endif
    for (int s = 0; s < count; s++)
        stages[s]->Process(data);
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
            short right =
                ClampSample(static_cast<float>(data[i + 1]) +
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

// Workspace records.

#include <ostream>

std::ostream &operator<<(std::ostream &out, Delay &delay)
{
    delay.m_DelayR = delay.m_DelayL;
    out << delay.m_DelayL << ' ' << delay.m_Feedback << ' ' << delay.m_Bypass << ' ';
    return out;
}

