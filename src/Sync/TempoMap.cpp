#include "Sync/TempoMap.h"

#include <algorithm>
#include <cmath>

TempoMap::TempoMap(double bpm, int beatsPerBar, int rate, int64_t origin)
    : m_Bpm(std::min(MaxBpm, std::max(MinBpm, bpm))),
      m_BeatsPerBar(std::min(MaxBeatsPerBar, std::max(1, beatsPerBar))), m_Rate(rate), m_Origin(origin)
{
}

double TempoMap::FramesPerBeat() const
{
    return Valid() ? 60.0 * m_Rate / m_Bpm : 0;
}

double TempoMap::StepFrames(Step step, double masterLength) const
{
    if (!Valid()) return step == MasterLoop ? masterLength : 0;
    switch (step) {
    case Beat:
        return FramesPerBeat();
    case Bar:
        return FramesPerBar();
    case MasterLoop:
        return masterLength;
    default:
        return 0;
    }
}

int64_t TempoMap::NextLine(int64_t frame, Step step, double masterLength) const
{
    const double stepFrames = StepFrames(step, masterLength);
    if (stepFrames < 1) return frame;
    // Lines fall on whole frames by rounding each one from the origin.
    double lines = std::ceil((frame - m_Origin) / stepFrames);
    int64_t line = m_Origin + std::llround(lines * stepFrames);
    while (line < frame)
        line = m_Origin + std::llround(++lines * stepFrames);
    while (m_Origin + std::llround((lines - 1) * stepFrames) >= frame)
        line = m_Origin + std::llround(--lines * stepFrames);
    return line;
}

double TempoMap::BeatAt(int64_t frame) const
{
    const double beat = FramesPerBeat();
    return beat > 0 ? (frame - m_Origin) / beat : 0;
}

int64_t TempoMap::RoundToBeats(int64_t frames) const
{
    const double beat = FramesPerBeat();
    if (beat <= 0) return frames;
    const double beats = std::max(1.0, std::round(frames / beat));
    return std::llround(beats * beat);
}
