#include "Sync/LinkSync.h"

#include <ableton/Link.hpp>

#include <algorithm>
#include <cmath>

LinkSync::LinkSync() : m_Link(std::make_unique<ableton::Link>(120.0))
{
    m_Link->enableStartStopSync(true);
}

LinkSync::~LinkSync() = default;

void LinkSync::Enable(bool on)
{
    m_Link->enable(on);
}

bool LinkSync::Enabled() const
{
    return m_Link->isEnabled();
}

void LinkSync::SetTempo(double bpm)
{
    auto state = m_Link->captureAppSessionState();
    state.setTempo(bpm, m_Link->clock().micros());
    m_Link->commitAppSessionState(state);
}

std::size_t LinkSync::Peers() const
{
    return m_Link->numPeers();
}

bool LinkSync::Follow(int64_t frame, int frames, TempoMap &map, bool &running)
{
    return FollowAt(frame, frames, m_Link->clock().micros().count(), map, running);
}

bool LinkSync::FollowAt(int64_t frame, int frames, int64_t hostMicros, TempoMap &map, bool &running)
{
    const int rate = m_Rate.load(std::memory_order_relaxed);
    if (rate <= 0 || !m_Link->isEnabled()) return false;
    if (rate != m_ClockRate) {
        m_Clock.Reset(rate);
        m_ClockRate = rate;
    }
    m_Clock.Add(frame, hostMicros);
    const double perFrame = m_Clock.MicrosPerFrame();
    // Link's timeline is read where the block will sound, not where it is made.
    const double heard = m_Clock.MicrosAt(frame) + m_Latency.load(std::memory_order_relaxed) * perFrame;
    const auto state = m_Link->captureAudioSessionState();
    const int beatsPerBar = std::clamp(map.m_BeatsPerBar, 1, TempoMap::MaxBeatsPerBar);
    const double quantum = beatsPerBar;
    const std::chrono::microseconds at(std::llround(heard));
    const double beat = state.beatAtTime(at, quantum);
    const double bar =
        static_cast<double>(state.timeAtBeat(beat - state.phaseAtTime(at, quantum), quantum).count());
    TempoMap next(state.tempo(), beatsPerBar, rate, frame - std::llround((heard - bar) / perFrame));
    if (map.Valid() && map.m_Rate == rate && map.m_BeatsPerBar == beatsPerBar &&
        std::fabs(map.m_Bpm - next.m_Bpm) <= next.m_Bpm * 1e-6) {
        // The grid stays put while its bar lines are within a frame of the
        // session's, rather than flicker with each block's rounding.
        const double barFrames = map.FramesPerBar();
        double off = std::fmod(static_cast<double>(next.m_Origin - map.m_Origin), barFrames);
        if (off > barFrames / 2) off -= barFrames;
        if (off < -barFrames / 2) off += barFrames;
        if (std::fabs(off) <= 1) next = map;
    }
    map = next;
    const auto change = state.timeForIsPlaying();
    if (state.isPlaying()) {
        // From the first bar line at or after the start.
        const double startBar = std::ceil(state.beatAtTime(change, quantum) / quantum - 1e-9) * quantum;
        running =
            heard + frames * perFrame > static_cast<double>(state.timeAtBeat(startBar, quantum).count());
    } else {
        running = heard < static_cast<double>(change.count());
    }
    return true;
}
