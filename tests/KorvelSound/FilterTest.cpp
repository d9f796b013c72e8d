#include "KorvelSound/Filter.h"

#include "KorvelInfo.h"
#include "ReferenceEngine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

using reference::CopyInto;
using reference::ScopedSetting;
using reference::Values;

namespace {

// What the loop panel's Cutoff slider stores for a slider value.
double CutoffFromSlider(int v)
{
    return static_cast<double>(static_cast<int>((100 - v) * (100 - v) + 10));
}

std::vector<short> RunBlocks(Filter &filter, const std::vector<short> &input)
{
    std::vector<short> output;
    Sample data(KorvelInfo::BufferSize);
    for (size_t start = 0; start + KorvelInfo::BufferSize <= input.size(); start += KorvelInfo::BufferSize) {
        for (int i = 0; i < KorvelInfo::BufferSize; i++)
            data[i] = input[start + i];
        filter.Process(0, data);
        std::vector<short> values = Values(data);
        output.insert(output.end(), values.begin(), values.end());
    }
    return output;
}

std::vector<short> Sine(double frequency, double amplitude, int length)
{
    std::vector<short> values(length);
    for (int i = 0; i < length; i++)
        values[i] =
            static_cast<short>(amplitude * std::sin(2.0 * M_PI * frequency * i / KorvelInfo::Samplerate));
    return values;
}

int Peak(const std::vector<short> &values, size_t from)
{
    int peak = 0;
    for (size_t i = from; i < values.size(); i++)
        peak = std::max(peak, std::abs(static_cast<int>(values[i])));
    return peak;
}

} // namespace

TEST(FilterTest, UnsetOrBypassedFilterLeavesTheBlockUntouched)
{
    std::mt19937 random(4);
    std::vector<short> input = reference::RandomBlock(random, 2 * KorvelInfo::BufferSize);
    Filter filter;
    EXPECT_EQ(RunBlocks(filter, input), input);
    filter.m_Cutoff = CutoffFromSlider(50);
    filter.m_Bypass = true;
    EXPECT_EQ(RunBlocks(filter, input), input);
}

TEST(FilterTest, ConstantInputSettlesAtHalfItsValue)
{
    Filter filter;
    filter.m_Cutoff = CutoffFromSlider(50);
    std::vector<short> output = RunBlocks(filter, std::vector<short>(20 * KorvelInfo::BufferSize, 1000));
    EXPECT_EQ(output.back(), 500);
    EXPECT_EQ(output[output.size() - KorvelInfo::BufferSize], 500);
}

TEST(FilterTest, DesignFrequencyFollowsTheSliderWithinItsLimits)
{
    EXPECT_EQ(CutoffFromSlider(50), 2510.0);
    EXPECT_FLOAT_EQ(Filter::DesignFrequency(2510.0f), 1575.025f);
    for (int v : {0, 10, 22})
        EXPECT_EQ(Filter::DesignFrequency(CutoffFromSlider(v)), 9000.0f) << v;
    EXPECT_LT(Filter::DesignFrequency(CutoffFromSlider(23)), 9000.0f);
    for (int v : {69, 80, 100})
        EXPECT_EQ(Filter::DesignFrequency(CutoffFromSlider(v)), 250.0f) << v;
    EXPECT_GT(Filter::DesignFrequency(CutoffFromSlider(68)), 250.0f);
}

TEST(FilterTest, DesignFrequencyIsTheHalfPowerPointOfTheCascade)
{
    const double f = Filter::DesignFrequency(CutoffFromSlider(50));
    const int length = KorvelInfo::Samplerate / KorvelInfo::BufferSize * KorvelInfo::BufferSize;
    Filter atCutoff;
    atCutoff.m_Cutoff = CutoffFromSlider(50);
    // Pass band gain 0.5, and a Butterworth response is down by sqrt(2) at its cutoff.
    EXPECT_NEAR(Peak(RunBlocks(atCutoff, Sine(f, 20000, length)), length / 2), 20000 * 0.5 / std::sqrt(2.0),
                150);
    Filter twoOctavesUp;
    twoOctavesUp.m_Cutoff = CutoffFromSlider(50);
    EXPECT_LT(Peak(RunBlocks(twoOctavesUp, Sine(4 * f, 20000, length)), length / 2), 100);
}

TEST(FilterTest, SettingsBeyondTheDesignLimitsSoundTheSame)
{
    std::mt19937 random(6);
    std::vector<short> input = reference::RandomBlock(random, 4 * KorvelInfo::BufferSize);
    auto output = [&](double cutoff, double resonance) {
        Filter filter;
        filter.m_Cutoff = cutoff;
        filter.m_Resonance = resonance;
        return RunBlocks(filter, input);
    };
    EXPECT_EQ(output(CutoffFromSlider(69), 3), output(CutoffFromSlider(100), 3));
    EXPECT_EQ(output(CutoffFromSlider(22), 3), output(CutoffFromSlider(1), 3));
    // Emphasis 9 and 10 give resonance 10 and 11, both designed with Q = 10.
    EXPECT_EQ(output(2510, 10), output(2510, 11));
    EXPECT_NE(output(2510, 9), output(2510, 10));
}

TEST(FilterTest, RingingAtHighResonanceClampsAtTheLimits)
{
    Filter filter;
    filter.m_Cutoff = CutoffFromSlider(50);
    filter.m_Resonance = 11;
    const double f = Filter::DesignFrequency(CutoffFromSlider(50));
    std::vector<short> square(8 * KorvelInfo::BufferSize);
    for (size_t i = 0; i < square.size(); i++)
        square[i] = std::sin(2.0 * M_PI * f * i / KorvelInfo::Samplerate) >= 0 ? 32767 : -32768;
    std::vector<short> output = RunBlocks(filter, square);
    EXPECT_EQ(*std::max_element(output.begin(), output.end()), 32767);
    EXPECT_EQ(*std::min_element(output.begin(), output.end()), -32767);
}

TEST(FilterTest, BlockLoopMatchesTheSampleBySampleWalk)
{
    std::mt19937 random(8);
    for (int granularity : {50, 1, 7, 512, 100000}) {
        ScopedSetting<int> g(KorvelInfo::FilterGranularity, granularity);
        for (int bufferSize : {512, 100}) {
            ScopedSetting<int> b(KorvelInfo::BufferSize, bufferSize);
            Filter filter;
            reference::Filter expected;
            for (int block = 0; block < 12; block++) {
                if (block % 3 == 0) {
                    filter.m_Cutoff = CutoffFromSlider(static_cast<int>(random() % 100));
                    filter.m_Resonance = static_cast<double>(1 + random() % 11);
                    filter.m_Bypass = block == 6;
                }
                expected.CopySettings(filter);
                std::vector<short> input = reference::RandomBlock(random, bufferSize, 20000);
                Sample data;
                CopyInto(data, input);
                filter.Process(0, data);
                expected.Process(input);
                ASSERT_EQ(Values(data), input) << "granularity " << granularity << " block " << block;
            }
        }
    }
}

TEST(FilterTest, ModulatedCutoffIsRedesignedEveryGranularitySamplesFromTheBlockStart)
{
    std::mt19937 random(10);
    for (int granularity : {50, 13, 1000}) {
        ScopedSetting<int> g(KorvelInfo::FilterGranularity, granularity);
        Filter filter;
        reference::Filter expected;
        filter.m_Cutoff = 600;
        filter.m_CutoffModInvert = granularity == 13;
        expected.cutoffModInvert = filter.m_CutoffModInvert;
        // A ramp sweeps the cutoff across the block, so when it is picked up shows.
        std::vector<short> ramp(KorvelInfo::BufferSize);
        for (int i = 0; i < KorvelInfo::BufferSize; i++)
            ramp[i] = static_cast<short>(i * 60);
        Sample modulation;
        CopyInto(modulation, ramp);
        filter.m_CutoffMod = &modulation;
        expected.cutoffMod = &ramp;
        expected.CopySettings(filter);
        for (int block = 0; block < 4; block++) {
            std::vector<short> input = reference::RandomBlock(random, KorvelInfo::BufferSize, 20000);
            Sample data;
            CopyInto(data, input);
            filter.Process(0, data);
            expected.Process(input);
            ASSERT_EQ(Values(data), input) << "granularity " << granularity << " block " << block;
        }
    }
}

TEST(FilterTest, PolyphonyBelowOneStillGivesTheLoopItsInstance)
{
    ScopedSetting<int> polyphony(KorvelInfo::Polyphony, 0);
    Filter filter;
    filter.m_Cutoff = CutoffFromSlider(50);
    std::vector<short> output = RunBlocks(filter, std::vector<short>(10 * KorvelInfo::BufferSize, 1000));
    EXPECT_EQ(output.back(), 500);
}
