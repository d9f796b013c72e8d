#include "Engine/AudioEngine.h"

#include "KorvelSound/Delay.h"
#include "KorvelSound/Output.h"
#include "KorvelSound/Reverb.h"
#include "Loop.h"
#include "LoopHost.h"
#include "LoopTestSupport.h"
#include "SavedSettings.h"

#include <gtest/gtest.h>

#include <cmath>
#include <iostream>
#include <random>

namespace {

struct LockHost : LoopHost
{
    AudioEngine *Engine() override { return m_Engine; }
    AudioEngine *m_Engine = nullptr;
};

} // namespace

// A drum machine's clock 50 ppm fast against the sound card, jittering by a
// millisecond, for ten minutes: a loop of four bars at the sound card's 120
// BPM would be 30 ms off by then; locked, its laps start on the clock's
// downbeats.
TEST(PhaseLockTest, AFourBarLoopStaysOnAJitteredMidiClocksDownbeatForTenMinutes)
{
    SavedSettings saved;
    const int block = 512, rate = 44100;
    KorvelInfo::WantRealtimeOut = false;
    KorvelInfo::BufferSize = block;
    KorvelInfo::Samplerate = rate;
    KorvelInfo::FadeMs = 3;
    Output::Unpaced = true;
    Output output(2);
    Delay delay;
    Reverb reverb;
    AudioEngine engine(output, delay, reverb);
    LockHost host;
    host.m_Engine = &engine;
    Loop loop(&host);
    loop.m_ID = 0;
    GiveSound(loop, std::vector<short>(4 * 4 * 22050, 1000));
    loop.m_Playing = true;
    engine.SetLoops({&loop});
    engine.SetTempo(120, 4, true);
    engine.SetSync(SyncSource::MidiClock);

    const double bpm = 120 * (1 + 50e-6), perTick = rate * 60.0 / bpm / 24;
    const int64_t start = 10000; // the clock's bar 1
    std::mt19937 random(11);
    std::uniform_real_distribution<double> jitter(-0.001 * rate, 0.001 * rate);
    const unsigned char startByte = MidiClockSync::Start, tickByte = MidiClockSync::Tick;
    int64_t tick = 0;
    const int64_t end = 10LL * 60 * rate / block * block;
    for (int64_t frame = 0; frame < end; frame += block) {
        if (frame <= start && start < frame + block) engine.MidiEvent(&startByte, 1, 0);
        for (int64_t at; (at = std::llround(start + tick * perTick + jitter(random))) < frame + block; tick++)
            engine.MidiEvent(&tickByte, 1, std::max<int64_t>(0, at - frame));
        ASSERT_TRUE(engine.Block());
    }
    // Where the loop is against the clock: beats into its 16 from the last
    // downbeat of a four-bar phrase.
    const double clockBeats = (end - start) / (perTick * 24);
    const double loopBeats = loop.m_Pos / loop.m_LoopLength * 16;
    double off = std::fmod(clockBeats - loopBeats, 16.0);
    off -= std::round(off / 16) * 16;
    const double offMs = off * perTick * 24 * 1000 / rate;
    const double bpmError = engine.m_Transport.Bpm() - bpm;
    std::cout << "After 10 min: tempo error " << bpmError << " BPM, loop phase " << offMs << " ms"
              << std::endl;
    EXPECT_NEAR(bpmError, 0, 0.01);
    EXPECT_LT(std::fabs(offMs), 1.0);
}
