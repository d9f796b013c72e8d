#include "Sync/Transport.h"

#include "KorvelSound/Output.h"
#include "KorvelSound/SampleClamp.h"
#include "Sync/ClockOut.h"
#include "Sync/SyncSource.h"

#include <algorithm>
#include <cmath>

void Transport::Prepare(int rate, int blockFrames)
{
    m_Rate = rate;
    m_Metronome.Prepare(rate);
    m_Click.assign(static_cast<size_t>(std::max(1, blockFrames)), 0);
    m_Midi.assign(m_Click.size(), 0);
}

void Transport::SetTempo(double bpm, int beatsPerBar, int64_t frame, bool fresh)
{
    TempoMap next(bpm, beatsPerBar, m_Rate, frame);
    // The same again (another setting of the row changed): the grid stays
    // exactly where it is, not rounded to a new origin.
    if (m_Map.Valid() && !fresh && next.m_Bpm == m_Map.m_Bpm && next.m_BeatsPerBar == m_Map.m_BeatsPerBar)
        return;
    if (m_Map.Valid() && !fresh) {
        // The same place in the bar, at the new tempo.
        const double beats = std::fmod(m_Map.BeatAt(frame), m_Map.m_BeatsPerBar);
        next.m_Origin =
            frame - std::llround((beats < 0 ? beats + m_Map.m_BeatsPerBar : beats) * next.FramesPerBeat());
    }
    m_Map = next;
    Publish();
    m_ClockStart = -1;
}

void Transport::Publish()
{
    m_Origin.store(m_Map.m_Origin, std::memory_order_relaxed);
    m_HasGrid.store(m_Map.Valid(), std::memory_order_relaxed);
    m_Bpm.store(m_Map.m_Bpm, std::memory_order_relaxed);
    m_BeatsPerBar.store(m_Map.m_BeatsPerBar, std::memory_order_relaxed);
}

void Transport::Follow(int64_t frame)
{
    const int frames = static_cast<int>(m_Click.size());
    if (m_Source) {
        TempoMap led = m_Map;
        bool running = true;
        if (m_Source->Follow(frame, frames, led, running)) {
            m_Map = led;
            m_Running.store(running, std::memory_order_relaxed);
            Publish();
        }
    } else {
        m_Running.store(true, std::memory_order_relaxed);
    }
}

void Transport::Block(int64_t frame, Output &output)
{
    const int frames = static_cast<int>(m_Click.size());
    // A leading source's stopped transport stops the click and the clock.
    const bool running = m_Running.load(std::memory_order_relaxed);
    const bool clicking = m_ClickOn && m_Map.Valid() && running;
    const bool clocking = (m_ClockOut && m_Map.Valid()) || m_ClockRunning || m_ClockStart >= 0;
    if (m_Used) {
        std::fill(m_Click.begin(), m_Click.end(), 0);
        std::fill(m_Midi.begin(), m_Midi.end(), 0);
    }
    m_Used = clicking || clocking;
    output.m_Click = m_Used ? m_Click.data() : nullptr;
    output.m_Midi = m_Used ? m_Midi.data() : nullptr;
    if (clicking) {
        m_Metronome.Render(m_Map, frame, m_Click.data(), frames, m_ClickLevel);
        if (m_ClickInMix) {
            short *mix = output.m_Buffer.GetBuffer();
            const int channels = output.m_Channels;
            for (int i = 0; i < frames; i++)
                for (int c = 0; c < channels; c++)
                    mix[i * channels + c] =
                        ClampSample(static_cast<int64_t>(mix[i * channels + c]) + m_Click[i]);
        }
    }
    if (clocking) Clock(frame, frames);
}

void Transport::Clock(int64_t frame, int frames)
{
    const bool wanted = m_ClockOut && m_Map.Valid() && m_Running.load(std::memory_order_relaxed);
    if (!wanted) {
        if (m_ClockRunning) m_Midi[0] = ClockStop;
        m_ClockRunning = false;
        m_ClockStart = -1;
        return;
    }
    if (!m_ClockRunning) {
        // A receiver counts from the tick after Start: both on the bar line.
        if (m_ClockStart < 0) m_ClockStart = m_Map.NextLine(frame, TempoMap::Bar);
        if (m_ClockStart >= frame + frames) return;
        m_ClockRunning = true;
    }
    int offsets[256];
    const int count = ClockOut::TicksIn(m_Map, frame, frames, offsets, 256);
    for (int i = 0; i < count; i++) {
        if (frame + offsets[i] < m_ClockStart) continue;
        m_Midi[offsets[i]] = frame + offsets[i] == m_ClockStart ? (ClockStart | ClockTick << 8) : ClockTick;
    }
}
