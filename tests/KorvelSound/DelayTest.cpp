#include "KorvelSound/Delay.h"

#include "KorvelInfo.h"
#include "ReferenceEngine.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

using reference::CopyInto;
using reference::Values;

namespace {

// Runs enough blocks for total values and returns everything that came out.
std::vector<short> RunBlocks(Delay &delay, std::vector<short> input)
{
    const int block = delay.m_Channels * KorvelInfo::BufferSize;
    input.resize((input.size() + block - 1) / block * block, 0);
    std::vector<short> output;
    Sample data(block);
    for (size_t start = 0; start < input.size(); start += block) {
        for (int i = 0; i < block; i++)
            data[i] = input[start + i];
        delay.Process(data);
        std::vector<short> values = Values(data);
        output.insert(output.end(), values.begin(), values.end());
    }
    return output;
}

std::vector<int> NonZeroIndices(const std::vector<short> &values)
{
    std::vector<int> indices;
    for (size_t i = 0; i < values.size(); i++)
        if (values[i] != 0) indices.push_back(static_cast<int>(i));
    return indices;
}

} // namespace

TEST(DelayTest, BypassLeavesTheBlockAndTheLinesAlone)
{
    Delay delay;
    std::mt19937 random(1);
    std::vector<short> input = reference::RandomBlock(random, KorvelInfo::BufferSize);
    EXPECT_EQ(RunBlocks(delay, input), input);

    // Switched on, bypassed again, on again: the tail resumes where it stopped.
    delay.m_Bypass = false;
    delay.m_DelayL = 0.0f;
    std::vector<short> impulse(KorvelInfo::BufferSize, 0);
    impulse[KorvelInfo::BufferSize - 1] = 1000;
    RunBlocks(delay, impulse);
    delay.m_Bypass = true;
    std::vector<short> silence(KorvelInfo::BufferSize, 0);
    EXPECT_EQ(RunBlocks(delay, silence), silence);
    delay.m_Bypass = false;
    EXPECT_EQ(RunBlocks(delay, silence)[0], 500);
}

TEST(DelayTest, ImpulseGivesAnEchoTrainHalvingEveryHalfSecond)
{
    Delay delay;
    delay.m_Bypass = false;
    std::vector<short> impulse(3 * 22050 + 10, 0);
    impulse[0] = 1000;
    std::vector<short> output = RunBlocks(delay, impulse);
    EXPECT_EQ(NonZeroIndices(output), (std::vector<int>{0, 22050, 44100, 66150}));
    EXPECT_EQ(output[0], 1000);
    EXPECT_EQ(output[22050], 500);
    EXPECT_EQ(output[44100], 250);
    EXPECT_EQ(output[66150], 125);
}

TEST(DelayTest, StereoChannelsEchoIndependentlyAndMonoHearsOnlyTheLeftTime)
{
    Delay stereo;
    stereo.m_Bypass = false;
    stereo.m_Channels = 2;
    stereo.m_DelayL = 0.5f;
    stereo.m_DelayR = 0.25f;
    std::vector<short> input(2 * 25000, 0);
    input[0] = 1000; // left frame 0
    input[1] = -800; // right frame 0
    std::vector<short> output = RunBlocks(stereo, input);
    // Right: n = (long)(0.25 * 44099) = 11024, so a period of 11025 frames.
    EXPECT_EQ(NonZeroIndices(output), (std::vector<int>{0, 1, 2 * 11025 + 1, 2 * 22050, 2 * 22050 + 1}));
    EXPECT_EQ(output[2 * 11025 + 1], -400);
    EXPECT_EQ(output[2 * 22050], 500);
    EXPECT_EQ(output[2 * 22050 + 1], -200);

    Delay mono;
    mono.m_Bypass = false;
    mono.m_DelayL = 0.25f;
    mono.m_DelayR = 0.5f;
    std::vector<short> monoInput(25000, 0);
    monoInput[0] = 1000;
    EXPECT_EQ(NonZeroIndices(RunBlocks(mono, monoInput)), (std::vector<int>{0, 11025, 22050}));
}

TEST(DelayTest, TimeZeroEchoesEverySampleAndFeedbackZeroPassesTheInput)
{
    Delay shortest;
    shortest.m_Bypass = false;
    shortest.m_DelayL = 0.0f;
    std::vector<short> impulse(8, 0);
    impulse[0] = 1000;
    std::vector<short> output = RunBlocks(shortest, impulse);
    EXPECT_EQ(std::vector<short>(output.begin(), output.begin() + 8),
              (std::vector<short>{1000, 500, 250, 125, 62, 31, 15, 7}));

    // A negative time also keeps the line at one sample.
    Delay negative;
    negative.m_Bypass = false;
    negative.m_DelayL = -0.3f;
    EXPECT_EQ(RunBlocks(negative, impulse), output);

    Delay dry;
    dry.m_Bypass = false;
    dry.m_Feedback = 0.0f;
    dry.m_DelayL = 0.001f;
    std::mt19937 random(2);
    std::vector<short> input = reference::RandomBlock(random, 3 * KorvelInfo::BufferSize);
    EXPECT_EQ(RunBlocks(dry, input), input);
}

TEST(DelayTest, FullFeedbackBuildsUpUntilTheValuesClampAtTheLimits)
{
    Delay delay;
    delay.m_Bypass = false;
    delay.m_Feedback = 1.0f;
    delay.m_DelayL = 0.0f; // one-sample line: each value adds onto the last
    std::vector<short> up(KorvelInfo::BufferSize, 20000);
    std::vector<short> output = RunBlocks(delay, up);
    EXPECT_EQ(output[0], 20000);
    EXPECT_EQ(output[1], 32767);
    EXPECT_EQ(output.back(), 32767);

    std::vector<short> down(KorvelInfo::BufferSize, -32768);
    output = RunBlocks(delay, down);
    EXPECT_EQ(output[0], -1); // 32767 - 32768
    EXPECT_EQ(output[1], -32767);
    EXPECT_EQ(output.back(), -32767);
}

TEST(DelayTest, BlockLoopsMatchTheValueByValueWalk)
{
    std::mt19937 random(3);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    for (int channels = 1; channels <= 2; channels++) {
        Delay delay;
        reference::Delay expected;
        delay.m_Bypass = false;
        delay.m_Channels = channels;
        // Short times so that the positions wrap many times within a block.
        const float times[] = {0.005f, 0.0f, 0.5f, 0.0003f, -0.2f, 0.011f, 1.0f, 0.002f};
        for (int block = 0; block < 48; block++) {
            if (block % 6 == 0) {
                delay.m_DelayL = times[(block / 6) % 8];
                delay.m_DelayR = times[(block / 6 + 3) % 8];
                delay.m_Feedback = unit(random);
                delay.m_Bypass = block == 24;
            }
            expected.CopySettings(delay);
            std::vector<short> input = reference::RandomBlock(random, channels * KorvelInfo::BufferSize);
            Sample data;
            CopyInto(data, input);
            delay.Process(data);
            expected.Process(input);
            ASSERT_EQ(Values(data), input) << "channels " << channels << " block " << block;
            ASSERT_EQ(delay.m_LeftPos, expected.posL);
            ASSERT_EQ(delay.m_RightPos, expected.posR);
        }
        EXPECT_EQ(Values(delay.m_LeftLine), expected.left);
        EXPECT_EQ(Values(delay.m_RightLine), expected.right);
    }
}

TEST(DelayDeathTest, ShortBlockEndsTheProgramLikeElementAccess)
{
    Delay delay;
    delay.m_Bypass = false;
    delay.m_Channels = 2;
    Sample mono(KorvelInfo::BufferSize);
    mono.Zero();
    EXPECT_DEATH(delay.Process(mono), "operator\\[\\].*KorvelSound/Sample\\.h.*i>=0 && i<m_Length");
}
