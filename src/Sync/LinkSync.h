#ifndef LINK_SYNC_H
#define LINK_SYNC_H

#include "Sync/FrameClock.h"
#include "Sync/SyncSource.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace ableton {
class Link;
}

// An Ableton Link session leads the beat grid: the session's tempo, and its
// bar (a quantum of the program's beats per bar) at phase 0, laid out in
// engine frames as the blocks are heard, so the grid sounds with the other
// programs' beats. The session's transport start falls on the next bar, as
// every peer with start/stop sync does. Joins the session only while
// enabled; the GUI enables it when Link leads.
class LinkSync : public SyncSource
{
public:
    LinkSync();
    ~LinkSync() override;

    // GUI side (they may wait): join or leave the session; propose a tempo
    // to it (the peers take it too).
    void Enable(bool on);
    bool Enabled() const;
    void SetTempo(double bpm);
    std::size_t Peers() const;

    // The engine's rate and the frames from a block's making to its first
    // frame's sound: the ring's prefill plus JACK's playback latency, plus
    // (period - block) / 2 when a period is made of several blocks at once.
    void SetOutput(int rate, int latencyFrames)
    {
        m_Latency.store(latencyFrames, std::memory_order_relaxed);
        m_Rate.store(rate, std::memory_order_relaxed);
    }

    // Audio thread: the block made now, by Link's clock.
    bool Follow(int64_t frame, int frames, TempoMap &map, bool &running) override;
    // The same for a block made at the host time (Link's clock, µs).
    bool FollowAt(int64_t frame, int frames, int64_t hostMicros, TempoMap &map, bool &running);

private:
    std::unique_ptr<ableton::Link> m_Link;
    std::atomic<int> m_Rate{0};
    std::atomic<int> m_Latency{0};
    FrameClock m_Clock;
    int m_ClockRate = 0;
};

#endif
