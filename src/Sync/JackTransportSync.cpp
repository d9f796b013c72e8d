#include "Sync/JackTransportSync.h"

#include "KorvelInfo.h"

#include <algorithm>
#include <cmath>

bool JackTransportSync::Follow(int64_t, int, TempoMap &map, bool &running)
{
    if (!m_Known || !m_Position.m_HasBar || m_Position.m_Bpm <= 0) return false;
    const TransportPosition &at = m_Position;
    const int rate = map.m_Rate > 0 ? map.m_Rate : KorvelInfo::Samplerate;
    TempoMap next(at.m_Bpm, at.m_BeatsPerBar, rate, map.m_Origin);
    running = at.m_Rolling;
    // Stopped, the position stands still: the grid keeps its bar line.
    if (at.m_Rolling || !map.Valid()) {
        // The grid's origin is the song's first downbeat, so a loop keeps its
        // place in the song across a locate.
        const double beats = (at.m_Bar - 1) * static_cast<double>(next.m_BeatsPerBar) + (at.m_Beat - 1) +
                             (at.m_TicksPerBeat > 0 ? at.m_Tick / at.m_TicksPerBeat : 0);
        const double songStart = at.m_Frame - beats * next.FramesPerBeat();
        // A master's ticks are whole (jack_transport drops the fraction): the
        // bar line it reports is late by up to a tick, so within a tick the
        // earliest is kept; further off is a locate.
        const double slack = 1 + (at.m_TicksPerBeat > 0 ? next.FramesPerBeat() / at.m_TicksPerBeat : 0);
        const bool same = map.Valid() && map.m_Bpm == next.m_Bpm && map.m_BeatsPerBar == next.m_BeatsPerBar;
        if (!same || std::fabs(songStart - map.m_Origin) > slack)
            next.m_Origin = std::llround(songStart);
        else
            next.m_Origin = std::min<int64_t>(map.m_Origin, std::llround(songStart));
    }
    map = next;
    return true;
}
