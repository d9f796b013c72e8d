#ifndef MIDI_CLOCK_SYNC_H
#define MIDI_CLOCK_SYNC_H

#include "Sync/ClockEstimator.h"
#include "Sync/SyncSource.h"

#include <cstddef>
#include <cstdint>

// The grid from another instrument's MIDI clock (24 ticks a beat, Start,
// Continue, Stop, Song Position): the tempo and the bar line fitted to the
// ticks' frames, so a clock that jitters by a millisecond still gives a
// steady grid. The clock carries no meter: the grid keeps the performer's
// beats per bar. Fed and asked on the audio thread only.
class MidiClockSync : public SyncSource
{
public:
    // One MIDI message that arrived at the engine frame; false when it is
    // none of the clock's.
    bool Take(const unsigned char *bytes, size_t size, int64_t frame);
    bool Follow(int64_t frame, int frames, TempoMap &map, bool &running) override;

    static constexpr int TicksPerBeat = 24;
    static constexpr unsigned char Tick = 0xf8, Start = 0xfa, Continue = 0xfb, Stop = 0xfc,
                                   SongPosition = 0xf2;

private:
    ClockEstimator m_Estimator;
    // Ticks that arrived, counted for the estimator; the song's tick of the
    // next one is m_Count - m_Offset.
    int64_t m_Count = 0;
    int64_t m_Offset = 0;
    bool m_Running = false;
};

#endif
