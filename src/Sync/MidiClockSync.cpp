#include "Sync/MidiClockSync.h"

#include "KorvelInfo.h"

#include <cmath>

bool MidiClockSync::Take(const unsigned char *bytes, size_t size, int64_t frame)
{
    if (size < 1) return false;
    switch (bytes[0]) {
    case Tick:
        m_Estimator.Tick(m_Count++, frame);
        // A stopped song keeps its place while the ticks go on.
        if (!m_Running) m_Offset++;
        return true;
    case Start:
        // The next tick is the first of bar 1.
        m_Offset = m_Count;
        m_Running = true;
        return true;
    case Continue:
        m_Running = true;
        return true;
    case Stop:
        m_Running = false;
        return true;
    case SongPosition:
        if (size < 3) return true;
        // Sixteenth notes since the song's start, six ticks each.
        m_Offset = m_Count - (static_cast<int64_t>(bytes[1] & 0x7f) | (bytes[2] & 0x7f) << 7) * 6;
        return true;
    default:
        return false;
    }
}

bool MidiClockSync::Follow(int64_t, int, TempoMap &map, bool &running)
{
    if (!m_Estimator.Ready() || m_Estimator.FramesPerTick() <= 0) return false;
    const int rate = map.m_Rate > 0 ? map.m_Rate : KorvelInfo::Samplerate;
    const double perTick = m_Estimator.FramesPerTick();
    // The song's tick 0 (bar 1's downbeat) is the grid's origin, so a loop
    // keeps its place in the song.
    map = TempoMap(60.0 * rate / (perTick * TicksPerBeat), map.m_BeatsPerBar, rate,
                   std::llround(m_Estimator.FrameOf(m_Offset)));
    running = m_Running;
    return true;
}
