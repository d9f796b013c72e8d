#include "KorvelSound/Reverb.h"

#include "KorvelInfo.h"
#include "ReferenceEngine.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <vector>

using reference::CopyInto;
using reference::Values;

namespace {

std::vector<float> Times(const Reverb &reverb)
{
    std::vector<float> times;
    for (const Delay *stage : reverb.m_Delays) {
        times.push_back(stage->m_DelayL);
        times.push_back(stage->m_DelayR);
    }
    return times;
}

// A construction time from one rand() value: 0.02 ... 0.2 in 10000 steps.
float InitialTime(int draw)
{
    return static_cast<float>(static_cast<double>(0.02f) +
                              static_cast<double>(0.2f - 0.02f) * ((draw % 10000) / 10000.0));
}

std::vector<short> ImpulseBlock()
{
    std::vector<short> block(KorvelInfo::BufferSize, 0);
    block[0] = 20000;
    return block;
}

std::vector<short> Process(Reverb &reverb, const std::vector<short> &input)
{
    Sample data;
    CopyInto(data, input);
    reverb.Process(data);
    return Values(data);
}

} // namespace

TEST(ReverbTest, ConstructionDrawsTenValuesLeftTimeFirst)
{
    std::srand(77);
    std::vector<int> draws;
    for (int i = 0; i < 11; i++)
        draws.push_back(std::rand());

    std::srand(77);
    Reverb reverb;
    EXPECT_EQ(std::rand(), draws[10]);
    ASSERT_EQ(reverb.m_Delays.size(), 5u);
    for (int s = 0; s < 5; s++) {
        const Delay *stage = reverb.m_Delays[s];
        EXPECT_EQ(stage->m_DelayL, InitialTime(draws[2 * s]));
        EXPECT_EQ(stage->m_DelayR, InitialTime(draws[2 * s + 1]));
        EXPECT_FALSE(stage->m_Bypass);
        EXPECT_EQ(stage->m_Feedback, 0.5f);
        EXPECT_EQ(stage->m_Channels, 1);
    }
}

TEST(ReverbTest, RandRangeStaysInItsRangeInTenThousandSteps)
{
    std::srand(5);
    for (int i = 0; i < 2000; i++) {
        float value = Reverb::RandRange(-0.01f, 0.01f);
        EXPECT_GE(value, -0.01f);
        EXPECT_LT(value, 0.01f);
        double steps = (static_cast<double>(value) + 0.01) / (0.02 / 10000.0);
        EXPECT_NEAR(steps, std::round(steps), 1e-2);
    }
}

TEST(ReverbTest, SameSeedGivesSameTimesAndEverySetTimeDrawsNewJitter)
{
    std::srand(123);
    Reverb first;
    first.SetTime(0.2f);
    std::srand(123);
    Reverb second;
    second.SetTime(0.2f);
    EXPECT_EQ(Times(first), Times(second));

    std::vector<float> before = Times(first);
    first.SetTime(0.2f);
    EXPECT_NE(Times(first), before);
    for (size_t i = 0; i < before.size(); i++) {
        float nominal = 0.2f * (static_cast<float>(i / 2) / 5.0f);
        EXPECT_NEAR(Times(first)[i], nominal, 0.01f + 1e-6f);
    }
}

TEST(ReverbTest, WithoutJitterTheStagesSpreadEvenlyOverTheTime)
{
    Reverb reverb;
    reverb.m_Random = 0.0f;
    const float t = 0.25f;
    reverb.SetTime(t);
    const float expected[] = {0.0f, t * 0.2f, t * 0.4f, t * (3.0f / 5.0f), t * 0.8f};
    for (int s = 0; s < 5; s++) {
        EXPECT_EQ(reverb.m_Delays[s]->m_DelayL, expected[s]) << s;
        EXPECT_EQ(reverb.m_Delays[s]->m_DelayR, expected[s]) << s;
    }
}

TEST(ReverbTest, SilentWhileTimeIsZeroWhateverTheBypass)
{
    Reverb reverb;
    std::vector<short> impulse = ImpulseBlock();
    EXPECT_EQ(Process(reverb, impulse), impulse);
    reverb.m_Bypass = false;
    EXPECT_EQ(Process(reverb, impulse), impulse);

    reverb.SetTime(0.1f);
    Process(reverb, impulse);
    std::vector<short> silence(KorvelInfo::BufferSize, 0);
    bool heard = false;
    for (int block = 0; block < 20 && !heard; block++)
        heard = Process(reverb, silence) != silence;
    EXPECT_TRUE(heard);

    reverb.SetTime(0.0f);
    EXPECT_EQ(Process(reverb, silence), silence);
    reverb.SetTime(0.1f);
    reverb.m_Bypass = true;
    EXPECT_EQ(Process(reverb, silence), silence);
}

TEST(ReverbTest, FeedbackAndChannelsReachAllFiveStages)
{
    Reverb reverb;
    reverb.SetFeedback(0.7f);
    reverb.SetChannels(2);
    EXPECT_EQ(reverb.m_Feedback, 0.7f);
    for (const Delay *stage : reverb.m_Delays) {
        EXPECT_EQ(stage->m_Feedback, 0.7f);
        EXPECT_EQ(stage->m_Channels, 2);
    }
}

TEST(ReverbTest, StagesRunInSeriesInListOrder)
{
    Reverb reverb;
    reverb.m_Bypass = false;
    reverb.SetTime(0.25f);
    reverb.SetFeedback(0.9f);
    reference::Delay stages[5];
    for (int s = 0; s < 5; s++)
        stages[s].CopySettings(*reverb.m_Delays[s]);

    std::mt19937 random(9);
    for (int block = 0; block < 30; block++) {
        std::vector<short> input = reference::RandomBlock(random, KorvelInfo::BufferSize);
        std::vector<short> output = Process(reverb, input);
        for (reference::Delay &stage : stages)
            stage.Process(input);
        ASSERT_EQ(output, input) << block;
    }
}

// A first stage of one sample (its jitter below zero) chains every value to
// the one before; the stages after it must still see exactly what they would
// one after another, whether their lines wrap inside a group of values or not.
TEST(ReverbTest, StagesBehindAOneSampleLineMatchEachStageInTurn)
{
    reference::ScopedSetting<int> frames(KorvelInfo::BufferSize, KorvelInfo::BufferSize);
    std::mt19937 random(23);
    const int lengths[][5] = {{-300, 7, 8, 9, 2205}, {0, 2205, 4410, 6615, 8820}, {-1, 5, 300, 12, 7}};
    for (int bufferSize : {512, 37}) {
        KorvelInfo::BufferSize = bufferSize;
        for (const auto &stageLengths : lengths) {
            Reverb reverb;
            reverb.m_Bypass = false;
            reverb.m_Time = 0.25f;
            reverb.SetFeedback(0.9f);
            reference::Delay stages[5];
            for (int s = 0; s < 5; s++) {
                // The time whose line length is the one wanted.
                reverb.m_Delays[s]->m_DelayL = (stageLengths[s] + 0.5f) / (MaxDelay - 1);
                stages[s].CopySettings(*reverb.m_Delays[s]);
            }
            for (int block = 0; block < 40; block++) {
                std::vector<short> input = reference::RandomBlock(random, bufferSize);
                std::vector<short> output = Process(reverb, input);
                for (reference::Delay &stage : stages)
                    stage.Process(input);
                ASSERT_EQ(output, input) << bufferSize << " " << stageLengths[1] << " block " << block;
            }
            for (int s = 0; s < 5; s++) {
                EXPECT_EQ(reverb.m_Delays[s]->m_LeftPos, stages[s].posL) << s;
                EXPECT_EQ(reverb.m_Delays[s]->m_RightPos, stages[s].posR) << s;
            }
        }
    }
}
