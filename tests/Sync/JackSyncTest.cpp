#include "../JackTestServer.h"
#include "../LoopTestSupport.h"
#include "../SavedSettings.h"
#include "AudioDevices/JackDevice.h"
#include "Engine/AudioEngine.h"
#include "KorvelSound/Delay.h"
#include "KorvelSound/Output.h"
#include "KorvelSound/Reverb.h"
#include "Loop.h"
#include "LoopHost.h"

#include <jack/midiport.h>
#include <jack/transport.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cmath>
#include <iostream>
#include <random>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

const int Rate = 44100;

// The other instrument: a client that sends MIDI clock (24 a beat, each tick
// off by up to a millisecond) or is the transport's timebase master (bar,
// beat and whole ticks worked out from the transport frame, as jack_transport
// does), and a second client, after the program in the graph, that records
// the program's click and main output with the transport frame of each cycle.
struct Peer
{
    explicit Peer(const JackTestServer &server, int seconds = 20)
    {
        const std::string pid = std::to_string(getpid());
        m_Sender =
            jack_client_open(("SyncPeer-" + pid).c_str(), JackServerName, nullptr, server.Name().c_str());
        m_Ear = jack_client_open(("SyncEar-" + pid).c_str(), JackServerName, nullptr, server.Name().c_str());
        if (!m_Sender || !m_Ear) return;
        m_Midi = jack_port_register(m_Sender, "midi", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
        m_ClickIn = jack_port_register(m_Ear, "click", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
        m_MainIn = jack_port_register(m_Ear, "main", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
        m_Click.resize((seconds + 2) * static_cast<size_t>(Rate));
        m_Main.resize(m_Click.size());
        m_Transport.resize(m_Click.size() / 64 + 1, -1);
        jack_set_process_callback(m_Sender, Send, this);
        jack_set_process_callback(m_Ear, Hear, this);
    }
    ~Peer()
    {
        if (m_Ear) jack_client_close(m_Ear);
        if (m_Sender) jack_client_close(m_Sender);
    }
    bool Start(const std::string &program)
    {
        if (!m_Sender || !m_Ear || jack_activate(m_Sender) || jack_activate(m_Ear)) return false;
        const std::string ear = jack_get_client_name(m_Ear), sender = jack_get_client_name(m_Sender);
        return jack_connect(m_Sender, (sender + ":midi").c_str(), (program + ":midi_in").c_str()) == 0 &&
               jack_connect(m_Ear, (program + ":click_left").c_str(), (ear + ":click").c_str()) == 0 &&
               jack_connect(m_Ear, (program + ":left").c_str(), (ear + ":main").c_str()) == 0;
    }

    static int Send(jack_nframes_t frames, void *arg)
    {
        Peer *peer = static_cast<Peer *>(arg);
        void *buffer = jack_port_get_buffer(peer->m_Midi, frames);
        jack_midi_clear_buffer(buffer);
        if (peer->m_Bpm <= 0) return 0;
        const jack_nframes_t now = jack_last_frame_time(peer->m_Sender);
        if (peer->m_StartAt < 0) peer->m_StartAt = now + frames;
        const double perTick = Rate * 60.0 / peer->m_Bpm / 24;
        for (;;) {
            const int64_t at = peer->m_StartAt + std::llround(peer->m_Tick * perTick + peer->m_Jitter);
            if (at >= now + frames) break;
            const jack_nframes_t offset = static_cast<jack_nframes_t>(std::max<int64_t>(at, now) - now);
            if (peer->m_Tick == 0) jack_midi_event_write(buffer, offset, &StartByte, 1);
            jack_midi_event_write(buffer, offset, &TickByte, 1);
            peer->m_Tick++;
            peer->m_Jitter = peer->m_Spread(peer->m_Random);
        }
        return 0;
    }
    static int Hear(jack_nframes_t frames, void *arg)
    {
        Peer *peer = static_cast<Peer *>(arg);
        const float *click = static_cast<const float *>(jack_port_get_buffer(peer->m_ClickIn, frames));
        const float *main = static_cast<const float *>(jack_port_get_buffer(peer->m_MainIn, frames));
        const jack_nframes_t now = jack_last_frame_time(peer->m_Ear);
        if (peer->m_From < 0) peer->m_From = now;
        const int64_t at = now - peer->m_From;
        if (at + frames > static_cast<int64_t>(peer->m_Click.size())) return 0;
        std::copy(click, click + frames, peer->m_Click.begin() + at);
        std::copy(main, main + frames, peer->m_Main.begin() + at);
        jack_position_t position;
        const bool rolling = jack_transport_query(peer->m_Ear, &position) == JackTransportRolling;
        for (int64_t k = at / 64; k < static_cast<int64_t>(at + frames) / 64; k++)
            peer->m_Transport[k] = rolling ? position.frame + k * 64 - at : -1;
        peer->m_Recorded = at + frames;
        return 0;
    }
    // Each period of the master's transport, as jack_transport does it.
    static void Timebase(jack_transport_state_t, jack_nframes_t, jack_position_t *position, int, void *arg)
    {
        const double bpm = static_cast<Peer *>(arg)->m_MasterBpm.load();
        const long tick = static_cast<long>(position->frame / (Rate * 60.0) * bpm * 1920);
        const long beat = tick / 1920;
        position->valid = JackPositionBBT;
        position->beats_per_bar = 4;
        position->beat_type = 4;
        position->ticks_per_beat = 1920;
        position->beats_per_minute = bpm;
        position->bar = static_cast<int32_t>(beat / 4) + 1;
        position->beat = static_cast<int32_t>(beat % 4) + 1;
        position->tick = static_cast<int32_t>(tick % 1920);
        position->bar_start_tick = (position->bar - 1) * 4 * 1920.0;
    }

    // The onsets of the clicks recorded in [from, to), louder ones marked.
    struct Onset
    {
        int64_t m_Frame;
        bool m_Accent;
    };
    std::vector<Onset> Clicks(int64_t from, int64_t to) const
    {
        std::vector<Onset> found;
        // A click is far shorter than a beat; its tone may touch 0 inside.
        for (int64_t i = std::max<int64_t>(from, 2000), quiet = 0; i < to; i++) {
            quiet = m_Click[i - 1] == 0 ? quiet + 1 : 0;
            if (m_Click[i] == 0 || quiet < 2000) continue;
            float peak = 0;
            for (int64_t j = i; j < i + 2000 && j < to; j++)
                peak = std::max(peak, std::fabs(m_Click[j]));
            found.push_back({i - 1, false});
            m_Peaks.push_back(peak);
        }
        float loudest = 0;
        for (float peak : m_Peaks)
            loudest = std::max(loudest, peak);
        for (size_t k = 0; k < found.size(); k++)
            found[k].m_Accent = m_Peaks[m_Peaks.size() - found.size() + k] > 0.9f * loudest;
        return found;
    }

    jack_client_t *m_Sender = nullptr, *m_Ear = nullptr;
    jack_port_t *m_Midi = nullptr, *m_ClickIn = nullptr, *m_MainIn = nullptr;
    std::atomic<double> m_Bpm{0}, m_MasterBpm{100};
    int64_t m_StartAt = -1, m_Tick = 0, m_From = -1;
    double m_Jitter = 0;
    std::mt19937 m_Random{5};
    std::uniform_real_distribution<double> m_Spread{-0.001 * Rate, 0.001 * Rate};
    std::vector<float> m_Click, m_Main;
    std::vector<int64_t> m_Transport; // the transport frame at every 64th recorded frame, -1 stopped
    std::atomic<int64_t> m_Recorded{0};
    mutable std::vector<float> m_Peaks;
    static constexpr unsigned char StartByte = 0xfa, TickByte = 0xf8;
};

class SyncHost : public LoopHost
{
public:
    AudioEngine *Engine() override { return m_Engine; }
    AudioEngine *m_Engine = nullptr;
};

// The program's engine in JACK's callback with the click on, a period and
// block of 256 (the output of a frame plays in that frame's period).
struct Program
{
    explicit Program(JackTestServer &server) : m_Engine(Open(server), m_Delay, m_Reverb)
    {
        m_Engine.m_Transport.m_ClickOn = true;
        m_Engine.m_Transport.m_ClickLevel = 1;
        m_Host.m_Engine = &m_Engine;
    }
    Output &Open(JackTestServer &server)
    {
        KorvelInfo::OutputDevice = "jack:" + server.Name();
        KorvelInfo::BufferSize = 256;
        KorvelInfo::WantMidi = true;
        m_Output.reset(new Output(2, &m_Device));
        m_Output->m_Volume = 1.0f;
        return *m_Output;
    }
    void Run() { m_Output->Jack()->RunInCallback(&m_Engine); }
    ~Program() { m_Output->Jack()->RunInCallback(nullptr); }

    ReportingDevice m_Device;
    std::unique_ptr<Output> m_Output;
    Delay m_Delay;
    Reverb m_Reverb;
    AudioEngine m_Engine;
    SyncHost m_Host;
};

bool WaitUntil(const std::atomic<int64_t> &recorded, int64_t frames, int patience = 30)
{
    for (int waits = 0; waits < patience * 100 && recorded.load() < frames; waits++)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return recorded.load() >= frames;
}

} // namespace

// A clock 50 ppm fast against the sound card, jittering by a millisecond;
// KORVEL_SYNC_SECONDS runs it longer than the 12 s of the suite.
TEST(JackSyncTest, MidiClockFromAJackClientSetsTheTempoAndTheBarToAMillisecondAndAFourBarLoopStaysOnIt)
{
    SavedSettings saved;
    const char *asked = std::getenv("KORVEL_SYNC_SECONDS");
    const int seconds = std::max(12, asked ? std::atoi(asked) : 0);
    JackTestServer server(256);
    ASSERT_TRUE(server.Ready()) << server.Log();
    Program program(server);
    AudioEngine &engine = program.m_Engine;
    // Four bars at 120 BPM by the sound card's clock, loud at its first frame.
    Loop loop(&program.m_Host);
    std::vector<short> sound(16 * 22050, 0);
    sound[0] = 30000;
    GiveSound(loop, sound);
    loop.m_Playing = false;
    loop.m_Quantize = TempoMap::Bar;
    engine.SetLoops({&loop});
    engine.SetSync(SyncSource::MidiClock);
    Peer peer(server, seconds);
    program.Run();
    engine.SetLive(true);
    ASSERT_TRUE(peer.Start(JackTestServer::Program()));
    const double bpm = 120 * (1 + 50e-6);
    peer.m_Bpm = bpm;
    ASSERT_TRUE(WaitUntil(peer.m_Recorded, Rate));
    engine.QueuePlay(&loop, true);
    ASSERT_TRUE(WaitUntil(peer.m_Recorded, static_cast<int64_t>(seconds) * Rate, seconds + 10));
    engine.SetLive(false);
    const double perBeat = Rate * 60.0 / bpm;
    const int64_t start = peer.m_StartAt - peer.m_From, end = static_cast<int64_t>(seconds) * Rate;
    double worst = 0, worstLap = 0;
    int clicks = 0, laps = 0;
    for (const Peer::Onset &click : peer.Clicks(end - 4 * Rate, end)) {
        const int64_t beat = std::llround((click.m_Frame - start) / perBeat);
        worst = std::max(worst, std::fabs(click.m_Frame - start - beat * perBeat));
        EXPECT_EQ(click.m_Accent, beat % 4 == 0) << "beat " << beat;
        clicks++;
    }
    // The loop's laps in the last 9 s against the clock's downbeats.
    for (int64_t i = end - 9 * Rate; i < end; i++) {
        if (peer.m_Main[i] < 0.2f) continue;
        const double bar = (i - start) / perBeat / 4;
        worstLap = std::max(worstLap, std::fabs(bar - std::round(bar)) * 4 * perBeat);
        laps++;
    }
    std::cout << "MIDI clock in after " << seconds << " s: tempo " << engine.m_Transport.Bpm() - bpm
              << " BPM off, " << clicks << " clicks, worst " << worst * 1000 / Rate
              << " ms off the clock's beats; " << laps << " laps of a four-bar loop, worst "
              << worstLap * 1000 / Rate << " ms off the downbeat" << std::endl;
    EXPECT_NEAR(engine.m_Transport.Bpm(), bpm, 0.05);
    EXPECT_GE(clicks, 7);
    EXPECT_LT(worst, 0.001 * Rate);
    EXPECT_GE(laps, 1);
    EXPECT_LT(worstLap, 0.001 * Rate);
}

TEST(JackSyncTest, JackTransportTempoLocateAndStopAreFollowedAndALoopRestartsOnTheBar)
{
    SavedSettings saved;
    JackTestServer server(256);
    ASSERT_TRUE(server.Ready()) << server.Log();
    Program program(server);
    AudioEngine &engine = program.m_Engine;
    // A loop of one bar at 100 BPM, loud at its first frame.
    Loop loop(&program.m_Host);
    std::vector<short> sound(4 * 26460, 0);
    sound[0] = 30000;
    GiveSound(loop, sound);
    loop.m_Playing = false;
    loop.m_Quantize = TempoMap::Bar;
    engine.SetLoops({&loop});
    engine.SetSync(SyncSource::JackTransport);
    Peer peer(server);
    ASSERT_EQ(jack_set_timebase_callback(peer.m_Sender, 0, Peer::Timebase, &peer), 0);
    program.Run();
    engine.SetLive(true);
    ASSERT_TRUE(peer.Start(JackTestServer::Program()));
    jack_transport_start(peer.m_Sender);
    ASSERT_TRUE(WaitUntil(peer.m_Recorded, Rate));
    engine.QueuePlay(&loop, true);
    ASSERT_TRUE(WaitUntil(peer.m_Recorded, 6 * Rate));
    EXPECT_EQ(engine.m_Transport.Bpm(), 100);
    EXPECT_TRUE(engine.m_Transport.Running());
    // Half way into bar 9; then a new tempo; then stopped.
    jack_transport_locate(peer.m_Sender, 8 * 4 * 26460 + 2 * 26460);
    ASSERT_TRUE(WaitUntil(peer.m_Recorded, 11 * Rate));
    peer.m_MasterBpm = 140;
    ASSERT_TRUE(WaitUntil(peer.m_Recorded, 14 * Rate));
    EXPECT_EQ(engine.m_Transport.Bpm(), 140);
    jack_transport_stop(peer.m_Sender);
    ASSERT_TRUE(WaitUntil(peer.m_Recorded, 16 * Rate));
    EXPECT_FALSE(engine.m_Transport.Running());
    engine.SetLive(false);

    // Every click and every lap of the loop (a bar at 100 BPM, no whole
    // number of beats at 140) against the master's beats and bars.
    auto check = [&](int64_t from, int64_t to, double bpm, const char *what) {
        const bool looped = bpm == 100;
        const double perBeat = Rate * 60.0 / bpm;
        double worst = 0, worstLap = 0;
        int clicks = 0, laps = 0;
        auto beatOf = [&](int64_t frame) {
            const int64_t transport = peer.m_Transport[frame / 64];
            return transport < 0 ? -1.0 : (transport + frame % 64) / perBeat;
        };
        for (const Peer::Onset &click : peer.Clicks(from, to)) {
            const double beat = beatOf(click.m_Frame);
            worst = std::max(worst, std::fabs(beat - std::round(beat)) * perBeat);
            EXPECT_EQ(click.m_Accent, std::llround(beat) % 4 == 0) << what << " beat " << beat;
            clicks++;
        }
        for (int64_t i = from; looped && i < to; i++) {
            if (peer.m_Main[i] < 0.2f) continue;
            const double bar = beatOf(i) / 4;
            worstLap = std::max(worstLap, std::fabs(bar - std::round(bar)) * 4 * perBeat);
            laps++;
        }
        std::cout << what << ": " << clicks << " clicks, worst " << worst * 1000 / Rate
                  << " ms off the beat; " << laps << " laps, worst " << worstLap * 1000 / Rate
                  << " ms off the bar" << std::endl;
        EXPECT_GE(clicks, 4) << what;
        EXPECT_EQ(laps > 0, looped) << what;
        EXPECT_LE(worst, 1) << what;
        EXPECT_LE(worstLap, 1) << what;
    };
    check(2 * Rate, 6 * Rate, 100, "100 BPM");
    check(int64_t(7.5 * Rate), 11 * Rate, 100, "after the locate");
    check(12 * Rate, 14 * Rate, 140, "140 BPM");
    EXPECT_TRUE(peer.Clicks(int64_t(14.5 * Rate), 16 * Rate).empty()) << "clicks while stopped";
}
