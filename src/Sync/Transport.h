#ifndef TRANSPORT_H
#define TRANSPORT_H

#include "KorvelSound/Metronome.h"
#include "Sync/TempoMap.h"

#include <atomic>
#include <cstdint>
#include <vector>

class Output;
class SyncSource;

// The program's musical time on the audio thread: the beat grid (none until
// a tempo is set), the metronome and the MIDI clock sent out. Changed by
// engine command only; the engine calls Block once per block.
class Transport
{
public:
    // Before the engine runs: room for blocks of that many frames.
    void Prepare(int rate, int blockFrames);
    // A new tempo and meter; a running grid keeps its place in the bar at the
    // frame, a new one (or a fresh one asked for) starts a bar there.
    void SetTempo(double bpm, int beatsPerBar, int64_t frame, bool fresh = false);
    // No grid: the program's timing as it was without one. The meter stays
    // for a source that leads with a tempo alone (MIDI clock).
    void ClearTempo(int beatsPerBar = 4)
    {
        m_Map = TempoMap();
        m_Map.m_BeatsPerBar = beatsPerBar;
        Publish();
    }
    // The block starting at the frame (after Follow): its click and clock
    // bytes to the output, the click into the stereo mix as well when asked.
    void Block(int64_t frame, Output &output);
    // The grid for the block starting at the frame from the source that
    // leads, if any: first thing in a block, so the loops play to it.
    void Follow(int64_t frame);
    // The source the grid follows (null: the program's own tempo). Not owned;
    // set by command, and kept alive until another command took it away.
    void Lead(SyncSource *source) { m_Source = source; }
    SyncSource *Leader() const { return m_Source; }
    bool Leading() const { return m_Source != nullptr; }
    // Whether the leading source's transport runs (always, without one).
    bool Running() const { return m_Running.load(std::memory_order_relaxed); }

    const TempoMap &Map() const { return m_Map; }
    // The grid's origin as last set, and whether there is one, for the
    // windows (any thread).
    int64_t Origin() const { return m_Origin.load(std::memory_order_relaxed); }
    bool HasGrid() const { return m_HasGrid.load(std::memory_order_relaxed); }
    double Bpm() const { return m_Bpm.load(std::memory_order_relaxed); }
    int BeatsPerBar() const { return m_BeatsPerBar.load(std::memory_order_relaxed); }
    bool m_ClickOn = false;
    float m_ClickLevel = 0.5f; // 0 ... 1
    bool m_ClickInMix = false;
    // The clock goes out from the next bar line (Start, then a tick every
    // 24th of a beat) until this goes off (Stop).
    bool m_ClockOut = false;

    static constexpr unsigned char ClockTick = 0xf8, ClockStart = 0xfa, ClockStop = 0xfc;

private:
    void Clock(int64_t frame, int frames);

    void Publish();

    TempoMap m_Map;
    SyncSource *m_Source = nullptr;
    std::atomic<bool> m_Running{true};
    std::atomic<int64_t> m_Origin{0};
    std::atomic<bool> m_HasGrid{false};
    std::atomic<double> m_Bpm{0};
    std::atomic<int> m_BeatsPerBar{4};
    int m_Rate = 0;
    Metronome m_Metronome;
    std::vector<short> m_Click;
    std::vector<uint16_t> m_Midi;
    bool m_Used = false;
    bool m_ClockRunning = false;
    int64_t m_ClockStart = -1; // the bar line the clock starts at, once chosen
};

#endif
