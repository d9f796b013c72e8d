#include "Engine/AudioEngine.h"
#include "Engine/TriggerRule.h"

#include "KorvelSound/Delay.h"
#include "KorvelSound/Output.h"
#include "KorvelSound/Reverb.h"
#include "Loop.h"
#include "LoopHost.h"
#include "LoopTestSupport.h"
#include "SavedSettings.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <vector>

namespace {

class QuantizeHost : public LoopHost
{
public:
    AudioEngine *Engine() override { return m_Engine; }
    AudioEngine *m_Engine = nullptr;
};

} // namespace

// 120 BPM at 44.1 kHz: a beat is 22050 frames, a bar of 4/4 88200.
TEST(QuantizeTest, PlayStopAndTakesFallExactlyOnTheLineWhateverTheBlockAndASecondPressCancels)
{
    for (int block : {64, 128, 512}) {
        SavedSettings saved;
        KorvelInfo::WantRealtimeOut = false;
        KorvelInfo::BufferSize = block;
        KorvelInfo::Samplerate = 44100;
        Output::Unpaced = true;
        Output output(2);
        Delay delay;
        Reverb reverb;
        AudioEngine engine(output, delay, reverb);
        QuantizeHost host;
        host.m_Engine = &engine;
        Loop player(&host), taker(&host);
        player.m_ID = 0;
        taker.m_ID = 1;
        GiveSound(player, std::vector<short>(30000, 1000));
        player.m_Playing = false;
        player.m_Quantize = TempoMap::Beat;
        taker.m_Quantize = TempoMap::Bar;
        std::vector<short> input(block, 500);
        taker.m_Input = input.data();
        engine.SetLoops({&player, &taker});
        engine.SetTempo(120, 4, true);

        int64_t frame = 0, firstHeard = -1, lastHeard = -1;
        auto run = [&](int64_t until) {
            for (; frame < until; frame += block) {
                ASSERT_TRUE(engine.Block());
                for (int i = 0; i < block; i++) {
                    if (output.m_Buffer[2 * i] == 0) continue;
                    if (firstHeard < 0) firstHeard = frame + i;
                    lastHeard = frame + i;
                }
            }
        };
        run(3000);
        engine.QueuePlay(&player, true);
        run(10000);
        engine.QueuePlay(&player, true); // again while it waits: called off
        run(30000);
        EXPECT_EQ(firstHeard, -1) << "block " << block;
        engine.QueuePlay(&player, true);
        run(50000);
        EXPECT_EQ(firstHeard, 44100) << "block " << block;
        engine.QueuePlay(&player, false);
        run(70000);
        EXPECT_EQ(lastHeard, 66149) << "block " << block;

        // A take of one bar, started between bars: exactly the next bar.
        engine.QueueTakeStart(&taker, 1);
        run(3 * 88200 + 1000);
        ASSERT_TRUE(taker.TakeEnded()) << "block " << block;
        taker.EndRecord();
        EXPECT_EQ(taker.m_LoopLength, 88200) << "block " << block;

        // A pedal's Play waits for the line after its event too.
        taker.m_Playing = false;
        EnginePedal pedal;
        pedal.m_Number = 60;
        pedal.m_LoopID = player.m_ID;
        engine.SetPedals({pedal});
        const unsigned char press[3] = {0x90, 60, 100};
        ASSERT_TRUE(engine.MidiEvent(press, 3, 10));
        firstHeard = -1;
        run(frame + 30000);
        EXPECT_EQ(firstHeard, (frame - 30000 + 10 + 22049) / 22050 * 22050) << "block " << block;

        // A marker's restart of a quantized loop waits for its line, then the
        // loop goes back to its start at that very frame.
        GiveSound(player, Ramp(60000, 1000));
        TriggerMarker marker;
        marker.m_Angle = 180;
        marker.m_TargetID = player.m_ID;
        taker.m_Markers = {marker};
        taker.m_StepFrom = 0;
        taker.m_StepTo = 0.75 * taker.m_LoopLength;
        std::vector<int> targets;
        TriggerRule::Apply({&player, &taker}, targets, &engine);
        const int64_t line = (frame + 22049) / 22050 * 22050;
        ASSERT_EQ(player.m_RestartAt, line) << "block " << block;
        ASSERT_TRUE(player.m_Playing);
        std::vector<short> heard;
        for (; frame < line + 100; frame += block) {
            ASSERT_TRUE(engine.Block());
            for (int i = 0; i < block; i++)
                heard.push_back(output.m_Buffer[2 * i]);
        }
        const size_t at = heard.size() - static_cast<size_t>(frame - line);
        EXPECT_GT(heard[at - 1], heard[at] + 1000) << "block " << block;
        EXPECT_LE(std::abs(heard[at - 1] - heard[at - 2]), 1) << "block " << block; // not before
        EXPECT_LE(heard[at], 1000) << "block " << block; // the start, at half volume
    }
}
