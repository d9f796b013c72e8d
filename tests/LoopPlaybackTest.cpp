#include "Loop.h"

#include "KorvelInfo.h"
#include "KorvelSound/ReferenceEngine.h"
#include "LoopHost.h"
#include "LoopPanel.h"
#include "LoopTestSupport.h"
#include "TestSupport.h"
#include "WorkspaceReader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <sstream>
#include <vector>

using reference::ScopedSetting;
using reference::Values;

namespace {

class CountingPanel : public LoopPanel
{
public:
    void DrawPosMarker() override { m_Calls++; }
    int m_Calls = 0;
};

// The loop's whole block path, value by value: record step (overdub only),
// playback, filter, hold copy, delay and reverb.
struct ReferenceLoop
{
    std::vector<short> sound;
    std::vector<short> hold;
    // In double, as the loop keeps it: a float position rounds fractional speeds.
    double pos = 0.0;
    int holdPos = 0;
    int64_t length = 0;
    float speed = 1.0f;
    float volume = 1.0f;
    bool effectsOn = false;
    reference::Filter filter;
    reference::Delay delay;
    reference::Delay reverb[5];
    bool reverbOn = false;

    explicit ReferenceLoop(const Loop &loop)
        : sound(Values(loop.m_StoreBuffer)), hold(Values(loop.m_HoldBuffer)), pos(loop.m_Pos),
          holdPos(loop.m_HoldPos), length(loop.m_LoopLength), speed(loop.m_Speed), volume(loop.m_Volume),
          effectsOn(loop.m_EffectsOn)
    {
        filter.CopySettings(loop.m_Filter);
        delay.CopySettings(loop.m_Delay);
        for (int s = 0; s < 5; s++)
            reverb[s].CopySettings(*loop.m_Reverb.m_Delays[s]);
        reverbOn = loop.m_Reverb.m_Time != 0.0f && !loop.m_Reverb.m_Bypass;
    }

    std::vector<short> Block()
    {
        std::vector<short> out(KorvelInfo::BufferSize);
        for (int i = 0; i < KorvelInfo::BufferSize; i++) {
            int p = static_cast<int>(pos);
            out[i] = p >= 0 && p < length ? static_cast<short>(static_cast<int>(sound.at(p) * volume)) : 0;
            double x = speed + pos;
            pos = static_cast<int>(x) >= length ? 0.0 : x;
        }
        filter.Process(out);
        for (int i = 0; i < KorvelInfo::BufferSize; i++) {
            if (holdPos >= length) holdPos = 0;
            hold.at(holdPos) = out[i];
            holdPos++;
        }
        if (effectsOn) {
            delay.Process(out);
            if (reverbOn)
                for (reference::Delay &stage : reverb)
                    stage.Process(out);
        }
        return out;
    }
};

} // namespace

TEST(LoopTest, PositionsAcrossTheEndOfTheLapAtSpeedOne)
{
    LoopHost host;
    Loop loop(&host);
    GiveSound(loop, Ramp(1000));
    loop.m_Pos = 998.0f;
    std::vector<short> out = Block(loop);
    // 998 and 999 hold 999 and 1000; the lap starts again with the first sample, heard.
    EXPECT_EQ(std::vector<short>(out.begin(), out.begin() + 5), (std::vector<short>{999, 1000, 1, 2, 3}));
    EXPECT_EQ(loop.m_Pos, static_cast<float>(KorvelInfo::BufferSize - 2));
    EXPECT_EQ(loop.m_DisplayPos, KorvelInfo::BufferSize - 2);
}

TEST(LoopTest, LoopsLongerThanAFloatCountsPlayAndOverdubToTheirEndAndWrap)
{
    // Past 2^24 a float position no longer moves by 1, past 2^22 not by 0.25.
    const int length = (1 << 24) + 200;
    LoopHost host;
    Loop loop(&host);
    ASSERT_TRUE(loop.AllocateMem(length));
    for (int i = 0; i < length; i++)
        loop.m_StoreBuffer.Set(i, static_cast<short>(i % 20000 + 1));
    const std::vector<short> input(KorvelInfo::BufferSize, 7);
    loop.m_Input = input.data();
    for (float speed : {1.0f, 0.25f}) {
        // Overdubbing: each block adds the input, then plays.
        loop.m_Speed = speed;
        loop.m_Pos = length - 400;
        loop.m_Recording = true;
        double pos = loop.m_Pos;
        for (int block = 0; block < 4; block++)
            for (short value : Block(loop)) {
                ASSERT_EQ(value, loop.m_StoreBuffer[static_cast<int>(pos)]) << speed;
                pos = static_cast<int>(pos + speed) >= length ? 0 : pos + speed;
            }
        EXPECT_EQ(loop.m_Pos, pos);
        loop.m_Recording = false;
        loop.EndRecord();
    }
    // Both takes went round the end into the next lap.
    EXPECT_EQ(loop.m_StoreBuffer[length - 1], (length - 1) % 20000 + 1 + 14);
    EXPECT_EQ(loop.m_StoreBuffer[100], 101 + 14);

    // The workspace keeps such a position; an ordinary one is written as it always was.
    std::stringstream record;
    loop.m_Pos = 16777300.25;
    record << loop;
    loop.m_Pos = 123.456789f;
    record << loop;
    WorkspaceReader::LoopRecord back;
    EXPECT_TRUE(WorkspaceReader::ReadLoop(record, back) && back.m_Pos == 16777300.25);
    EXPECT_NE(record.str().find(" 123.457 "), std::string::npos);
}

TEST(LoopTest, PositionsAtSlowStillAndFastSpeeds)
{
    LoopHost host;
    Loop half(&host);
    GiveSound(half, Ramp(1000));
    half.m_Speed = 0.5f;
    std::vector<short> out = Block(half);
    EXPECT_EQ(std::vector<short>(out.begin(), out.begin() + 6), (std::vector<short>{1, 1, 2, 2, 3, 3}));

    Loop still(&host);
    GiveSound(still, Ramp(1000));
    still.m_Speed = 0.0f;
    still.m_Pos = 17.0f;
    EXPECT_EQ(Block(still), std::vector<short>(KorvelInfo::BufferSize, 18));
    EXPECT_EQ(still.m_Pos, 17.0f);

    Loop fast(&host);
    GiveSound(fast, Ramp(20));
    fast.m_Speed = 2.5f;
    out = Block(fast);
    // 0, 2.5, 5, ... 17.5; then 20 is past the end: back to exactly 0, overshoot dropped.
    EXPECT_EQ(std::vector<short>(out.begin(), out.begin() + 10),
              (std::vector<short>{1, 3, 6, 8, 11, 13, 16, 18, 1, 3}));
}

TEST(LoopTest, VolumeScalesAndTruncatesTowardZero)
{
    LoopHost host;
    Loop loop(&host);
    GiveSound(loop, {1001, -1001, 32767, -32768});
    loop.m_Volume = 0.5f;
    std::vector<short> out = Block(loop);
    EXPECT_EQ(std::vector<short>(out.begin(), out.begin() + 4),
              (std::vector<short>{500, -500, 16383, -16384}));
}

TEST(LoopTest, ZeroPlayLengthOutputsSilenceButStillProducesABlock)
{
    LoopHost host;
    Loop loop(&host);
    CountingPanel panel;
    loop.m_GUI = &panel;
    GiveSound(loop, Ramp(1000));
    loop.m_LoopLength = 0;
    bool produced = false;
    EXPECT_EQ(Block(loop, &produced), std::vector<short>(KorvelInfo::BufferSize, 0));
    loop.ShowOnPanel();
    EXPECT_TRUE(produced);
    EXPECT_EQ(loop.m_Pos, 0.0f);
    EXPECT_EQ(panel.m_Calls, 1);
}

TEST(LoopTest, EmptyOrStoppedLoopLeavesTheBlockPositionAndDisplayAlone)
{
    LoopHost host;
    CountingPanel panel;
    Loop empty(&host);
    empty.m_GUI = &panel;
    Sample out(KorvelInfo::BufferSize);
    for (int i = 0; i < KorvelInfo::BufferSize; i++)
        out[i] = 7;
    EXPECT_FALSE(empty.GetOutput(out));

    Loop stopped(&host);
    stopped.m_GUI = &panel;
    GiveSound(stopped, Ramp(1000));
    stopped.m_Pos = 5.0f;
    stopped.m_Playing = false;
    EXPECT_FALSE(stopped.GetOutput(out));
    stopped.ShowOnPanel();
    EXPECT_EQ(Values(out), std::vector<short>(KorvelInfo::BufferSize, 7));
    EXPECT_EQ(stopped.m_Pos, 5.0f);
    EXPECT_EQ(panel.m_Calls, 0);

    // Recording with no input source yet: nothing happens to an empty loop either.
    empty.m_Recording = true;
    EXPECT_FALSE(empty.GetOutput(out));
    empty.ShowOnPanel();
    EXPECT_EQ(panel.m_Calls, 0);
}

TEST(LoopTest, DisplayIsMovedAfterEveryProducedBlockAndMayBeAbsent)
{
    LoopHost host;
    Loop loop(&host);
    GiveSound(loop, Ramp(3000));
    Block(loop); // no panel: fine
    CountingPanel panel;
    loop.m_GUI = &panel;
    for (int i = 0; i < 5; i++) {
        Block(loop);
        loop.ShowOnPanel();
    }
    EXPECT_EQ(panel.m_Calls, 5);
    EXPECT_EQ(loop.m_DisplayPos, (6 * KorvelInfo::BufferSize) % 3000);
}

TEST(LoopTest, HoldCopyAtDoubleSpeedBecomesTheSoundWithKeepHold)
{
    LoopHost host;
    Loop loop(&host);
    const int length = 2 * KorvelInfo::BufferSize;
    GiveSound(loop, Ramp(length));
    loop.m_Speed = 2.0f;
    loop.m_Volume = 0.5f;
    Block(loop);
    Block(loop);
    loop.KeepHold();
    // One play length of output: the old sound twice over at double speed, at half volume.
    std::vector<short> expected;
    for (int lap = 0; lap < 2; lap++)
        for (int i = 0; i < length; i += 2)
            expected.push_back(static_cast<short>((i + 1) / 2));
    EXPECT_EQ(Values(loop.m_StoreBuffer), expected);
    EXPECT_EQ(loop.GetTotalLength(), length);
}

TEST(LoopTest, NoHoldCopyWhileRecording)
{
    LoopHost host;
    Loop loop(&host);
    GiveSound(loop, Ramp(KorvelInfo::BufferSize));
    std::vector<short> holdBefore = Values(loop.m_HoldBuffer);
    RecordTake(loop, std::vector<short>(KorvelInfo::BufferSize, 0));
    EXPECT_EQ(Values(loop.m_HoldBuffer), holdBefore);
}

TEST(LoopTest, MasterRatio)
{
    LoopHost host;
    Loop loop(&host);
    GiveSound(loop, Ramp(1000));
    EXPECT_EQ(loop.GetMasterRatio(), 0.0f); // no master loop yet
    host.m_MasterPeriod = 3000.0f;
    loop.m_Speed = 1.5f;
    EXPECT_FLOAT_EQ(loop.GetMasterRatio(), 4.5f);
    loop.m_Speed = 0.0f;
    EXPECT_EQ(loop.GetMasterRatio(), 1.0f);
    loop.m_Speed = 1.0f;
    loop.m_LoopLength = 0;
    EXPECT_EQ(loop.GetMasterRatio(), 1.0f);
}

TEST(LoopTest, BalanceSplitsTheGains)
{
    LoopHost host;
    Loop loop(&host);
    EXPECT_EQ(loop.m_LeftVol, 1.0f);
    EXPECT_EQ(loop.m_RightVol, 1.0f);
    loop.SetPan(1.0f);
    EXPECT_EQ(loop.m_LeftVol, 0.5f);
    EXPECT_EQ(loop.m_RightVol, 0.5f);
    loop.SetPan(0.0f);
    EXPECT_EQ(loop.m_LeftVol, 1.0f);
    EXPECT_EQ(loop.m_RightVol, 0.0f);
    loop.SetPan(2.0f);
    EXPECT_EQ(loop.m_Pan, 2.0f);
    EXPECT_EQ(loop.m_LeftVol, 0.0f);
    EXPECT_EQ(loop.m_RightVol, 1.0f);
}

TEST(LoopTest, BlockPathMatchesTheValueByValueWalk)
{
    std::mt19937 random(15);
    const float speeds[] = {1.0f, 0.7f, 2.5f, 1.0f, 0.0f, 3.0f};
    for (int setting = 0; setting < 6; setting++) {
        LoopHost host;
        Loop loop(&host);
        const int length = 3000 + setting * 777;
        GiveSound(loop, reference::RandomBlock(random, length));
        loop.m_LoopLength = length - (setting % 2) * 400;
        loop.m_Pos = static_cast<float>(length - 900);
        loop.m_HoldPos = length / 3;
        loop.m_Speed = speeds[setting];
        loop.m_Volume = 0.8f;
        loop.m_Filter.m_Cutoff = 2510;
        loop.m_Filter.m_Resonance = 1 + setting;
        loop.m_EffectsOn = setting != 3;
        loop.m_Delay.m_Bypass = false;
        loop.m_Delay.m_DelayL = 0.01f * (setting + 1);
        loop.m_Reverb.m_Bypass = false;
        loop.m_Reverb.SetTime(0.25f);
        loop.m_Reverb.SetFeedback(0.4f);
        ReferenceLoop expected(loop);
        for (int block = 0; block < 30; block++) {
            std::vector<short> out = Block(loop);
            ASSERT_EQ(out, expected.Block()) << "setting " << setting << " block " << block;
            ASSERT_EQ(loop.m_Pos, expected.pos);
            ASSERT_EQ(loop.m_HoldPos, expected.holdPos);
        }
        EXPECT_EQ(Values(loop.m_HoldBuffer), expected.hold);
    }
}

TEST(LoopTest, FadedStartsStopsJumpsAndSeamsMatchASimpleModel)
{
    ScopedSetting<int> rate(KorvelInfo::Samplerate, 8000);
    ScopedSetting<int> fadeMs(KorvelInfo::FadeMs, 5);
    ScopedSetting<int> blockSize(KorvelInfo::BufferSize, 64);
    const int F = 40;
    std::mt19937 random(16);
    // The second lap is shorter than two fades: it has no seam fade.
    for (int length : {300, 70}) {
        LoopHost host;
        Loop loop(&host);
        const std::vector<short> sound = reference::RandomBlock(random, length, 20000);
        GiveSound(loop, sound);
        ASSERT_EQ(loop.FadeFrames(), F);
        std::vector<short> heard;
        for (int block = 0; block < 20; block++) {
            if (block == 10) loop.m_Pos = 23; // a click on the ring
            if (block == 15) loop.m_Playing = false;
            std::vector<short> out = Block(loop);
            heard.insert(heard.end(), out.begin(), out.end());
        }

        // Each stretch of playback (from, to, its first position) fades in
        // from its start and out past its end; within F of the seam every
        // sample is faded by its distance from it.
        const int stretches[2][3] = {{0, 640, 0}, {640, 960, 23}};
        std::vector<float> expected(heard.size(), 0.0f);
        for (const auto &s : stretches)
            for (int t = s[0]; t < s[1] + F; t++) {
                const int p = (s[2] + t - s[0]) % length;
                float gain = std::min(1.0f, (t - s[0] + 0.5f) / F);
                if (t >= s[1]) gain *= (s[1] + F - t - 0.5f) / F;
                if (length >= 2 * F) gain *= std::min({1.0f, (p + 0.5f) / F, (length - p - 0.5f) / F});
                expected[t] += sound[p] * gain;
            }
        for (size_t t = 0; t < heard.size(); t++)
            ASSERT_NEAR(heard[t], expected[t], 3.0f) << "length " << length << " at " << t;
    }
}
