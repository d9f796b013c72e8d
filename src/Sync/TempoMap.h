#ifndef TEMPO_MAP_H
#define TEMPO_MAP_H

#include <cstdint>

// The beat grid: a tempo and a meter laid out in frames from the frame where
// a bar begins. A plain value, copied to the audio thread whole. Every grid
// line is worked out from the origin, never by adding beat to beat, so the
// grid drifts by no frame however long it runs.
class TempoMap
{
public:
    enum Step
    {
        Off,
        Beat,
        Bar,
        MasterLoop
    };

    TempoMap() = default;
    TempoMap(double bpm, int beatsPerBar, int rate, int64_t origin = 0);

    bool Valid() const { return m_Bpm > 0 && m_Rate > 0; }
    double FramesPerBeat() const;
    double FramesPerBar() const { return FramesPerBeat() * m_BeatsPerBar; }
    // Frames between grid lines of the step (masterLength for MasterLoop);
    // 0 for Off or without a grid.
    double StepFrames(Step step, double masterLength = 0) const;
    // The first grid line at or after the frame (the frame itself without
    // a step): where a quantized action falls.
    int64_t NextLine(int64_t frame, Step step, double masterLength = 0) const;
    // Beats since the origin, fractional.
    double BeatAt(int64_t frame) const;
    // The nearest whole number of beats for a length, at least one.
    int64_t RoundToBeats(int64_t frames) const;

    double m_Bpm = 0;
    int m_BeatsPerBar = 4;
    int m_Rate = 0;
    int64_t m_Origin = 0;

    static constexpr double MinBpm = 20;
    static constexpr double MaxBpm = 300;
    static constexpr int MaxBeatsPerBar = 16;
};

#endif
