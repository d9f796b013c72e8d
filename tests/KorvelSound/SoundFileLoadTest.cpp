#include "KorvelSound/SoundFileLoad.h"

#include "KorvelInfo.h"
#include "../TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace {

// Frequency from the first to the last rising zero crossing, interpolated
// between samples.
double Pitch(const Sample &s)
{
    double first = -1, last = -1;
    int crossings = 0;
    for (int i = 1; i < s.GetLength(); i++) {
        if (s[i - 1] < 0 && s[i] >= 0) {
            double at = i - 1 + static_cast<double>(-s[i - 1]) / (s[i] - s[i - 1]);
            if (first < 0) first = at;
            last = at;
            crossings++;
        }
    }
    return crossings < 2 ? 0 : (crossings - 1) * KorvelInfo::Samplerate / (last - first);
}

double Rms(const Sample &s)
{
    double sum = 0;
    for (int i = 0; i < s.GetLength(); i++)
        sum += static_cast<double>(s[i]) * s[i];
    return std::sqrt(sum / std::max(s.GetLength(), 1));
}

} // namespace

TEST(SoundFileLoadTest, EveryFormatAndRateLoadsAtItsTruePitchAndLevel)
{
    struct Case
    {
        const char *file;
        const char *soxOptions;
        int rate;
        bool stereo;
    };
    const Case cases[] = {
        {"s16.wav", "-c 1 -b 16", 44100, false},
        {"s24-stereo.wav", "-c 2 -b 24", 48000, true},
        {"float.wav", "-c 1 -e floating-point -b 32", 96000, false},
        {"s32.wav", "-c 1 -b 32", 44100, false},
        {"u8.wav", "-c 1 -b 8", 22050, false},
        {"quad-extensible.wav", "-c 4 -b 16", 8000, false},
        {"stereo.aiff", "-c 2 -b 16", 44100, true},
        {"mono.aifc", "-c 1 -b 16", 32000, false},
        {"s24.flac", "-c 1 -b 24", 48000, false},
        {"stereo.ogg", "-c 2", 44100, true},
        {"mono.caf", "-c 1 -b 16", 11025, false},
    };
    TempDir dir;
    for (const Case &c : cases) {
        const std::string path = dir.File(c.file);
        int status = -1;
        RunCommand("sox -n -r " + std::to_string(c.rate) + " " + c.soxOptions + " '" + path +
                       "' synth 0.5 sine 440 vol 0.5 2>&1",
                   &status);
        ASSERT_EQ(status, 0) << c.file;

        SoundFileLoad load;
        testing::internal::CaptureStderr();
        ASSERT_EQ(load.Open(path), 1) << c.file;
        EXPECT_TRUE(load.Step(SoundFileLoad::Clock::time_point::max()));
        const std::string messages = testing::internal::GetCapturedStderr();
        ASSERT_TRUE(load.Succeeded()) << c.file << messages;

        EXPECT_NEAR(load.m_Sound.GetLength(), KorvelInfo::Samplerate / 2, 2) << c.file;
        EXPECT_EQ(load.m_Hold.GetLength(), load.m_Sound.GetLength());
        EXPECT_NEAR(Pitch(load.m_Sound), 440.0, 2.0) << c.file;
        // A sine at half of full scale.
        EXPECT_NEAR(Rms(load.m_Sound), 0.5 * 32768 / std::sqrt(2.0), 300) << c.file;
        std::string expected = c.stereo ? "Stereo wav file...\n" : "";
        if (c.rate != KorvelInfo::Samplerate)
            expected += "Converted from " + std::to_string(c.rate) + " Hz to " +
                        std::to_string(KorvelInfo::Samplerate) + " Hz [" + path + "]\n";
        EXPECT_EQ(messages, expected) << c.file;
    }
}
