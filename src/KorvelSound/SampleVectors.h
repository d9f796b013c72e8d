#ifndef SAMPLE_VECTORS_H
#define SAMPLE_VECTORS_H

// Eight 16-bit samples at a time in the processor's vector registers, with
// exactly the single-precision arithmetic of the value-by-value code: the
// block loops use these where the processor has them and give the same
// values bit for bit.

#if defined(__SSE2__)
#include <emmintrin.h>

#include "KorvelInfo.h"

namespace SampleVectors {

inline __m128i Load(const short *values)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i *>(values));
}

inline void Store(short *values, __m128i result)
{
    _mm_storeu_si128(reinterpret_cast<__m128i *>(values), result);
}

// The first or last four of eight samples as floats.
inline __m128 WidenLow(__m128i values)
{
    return _mm_cvtepi32_ps(_mm_srai_epi32(_mm_unpacklo_epi16(values, values), 16));
}

inline __m128 WidenHigh(__m128i values)
{
    return _mm_cvtepi32_ps(_mm_srai_epi32(_mm_unpackhi_epi16(values, values), 16));
}

// Truncated toward zero and clamped to +-MaxSampleValue, as 32-bit integers.
// Not-a-number gives 0, as it does for a single value.
inline __m128i Truncate(__m128 values)
{
    const __m128 high = _mm_set1_ps(static_cast<float>(KorvelInfo::MaxSampleValue));
    const __m128 low = _mm_set1_ps(static_cast<float>(-KorvelInfo::MaxSampleValue));
    const __m128 ordered = _mm_cmpord_ps(values, values);
    // max and min give their second operand for not-a-number; the mask then zeroes it.
    values = _mm_min_ps(_mm_max_ps(values, low), high);
    return _mm_cvttps_epi32(_mm_and_ps(values, ordered));
}

} // namespace SampleVectors

#endif

#endif
