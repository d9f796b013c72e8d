#ifndef SAMPLE_CLAMP_H
#define SAMPLE_CLAMP_H

#include "KorvelInfo.h"

#include <cstdint>

// Computed values become samples the same way everywhere: truncated toward
// zero, then clamped to +-MaxSampleValue (never -32768).
inline short ClampSample(int64_t value)
{
    if (value > KorvelInfo::MaxSampleValue) return static_cast<short>(KorvelInfo::MaxSampleValue);
    if (value < -KorvelInfo::MaxSampleValue) return static_cast<short>(-KorvelInfo::MaxSampleValue);
    return static_cast<short>(value);
}

// Same result as truncating to a wide integer and clamping: anything at or
// beyond the limits truncates to the limit. Clamping first keeps the
// conversion narrow, which vector instructions can do.
inline short ClampSample(float value)
{
    const float limit = static_cast<float>(KorvelInfo::MaxSampleValue);
    value = value < -limit ? -limit : value;
    value = value > limit ? limit : value;
    return static_cast<short>(static_cast<int>(value));
}

#endif
