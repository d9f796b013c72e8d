#include "KorvelSound/SoundFileLoad.h"

#include "KorvelInfo.h"
#include "../TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>

#include <unistd.h>

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
        const bool wav = std::string(c.file).find(".wav") != std::string::npos;
        std::string expected = !c.stereo ? "" : wav ? "Stereo wav file...\n" : "Stereo sound file...\n";
        if (c.rate != KorvelInfo::Samplerate)
            expected += "Converted from " + std::to_string(c.rate) + " Hz to " +
                        std::to_string(KorvelInfo::Samplerate) + " Hz [" + path + "]\n";
        EXPECT_EQ(messages, expected) << c.file;
    }
}

TEST(SoundFileLoadTest, NotANumberAndInfinityStayOneValueThroughConversion)
{
    TempDir dir;
    const std::string clean = dir.File("clean.wav"), damaged = dir.File("damaged.wav");
    int status = -1;
    RunCommand("sox -n -r 48000 -c 1 -e floating-point -b 32 '" + clean + "' synth 0.2 sine 100 vol 0.5 2>&1",
               &status);
    ASSERT_EQ(status, 0);
    // Not-a-number and infinities at the sine's crests, where silence or
    // full scale differ most from the sound.
    std::string bytes = ReadFileBytes(clean);
    const size_t data = bytes.find("data") + 8;
    ASSERT_GT(data, 8u);
    const float bad[] = {NAN, INFINITY, -INFINITY};
    const size_t at[] = {2520, 4920, 7320};
    for (int i = 0; i < 3; i++)
        bytes.replace(data + 4 * at[i], 4, reinterpret_cast<const char *>(&bad[i]), 4);
    WriteFileBytes(damaged, bytes);

    Sample loaded[2];
    const std::string paths[] = {clean, damaged};
    for (int i = 0; i < 2; i++) {
        SoundFileLoad load;
        testing::internal::CaptureStderr();
        ASSERT_EQ(load.Open(paths[i]), 1);
        load.Step(SoundFileLoad::Clock::time_point::max());
        testing::internal::GetCapturedStderr();
        ASSERT_TRUE(load.Succeeded());
        loaded[i].Swap(load.m_Sound);
    }
    ASSERT_EQ(loaded[0].GetLength(), loaded[1].GetLength());
    int far = 0;
    for (int i = 0; i < loaded[0].GetLength(); i++)
        far += std::abs(loaded[0][i] - loaded[1][i]) > 3277;
    // A few values beside each bad one, not milliseconds of them.
    EXPECT_LE(far, 3 * 6);
}

TEST(SoundFileLoadTest, AFileLongerThanALoopCanHoldIsRefusedBeforeReading)
{
    // A billion frames (sparsely, on the disk) at 11025 Hz: four billion values at 44100 Hz.
    TempDir dir;
    const std::string path = dir.File("long.wav");
    int status = -1;
    RunCommand("sox -n -r 11025 -c 1 -b 16 '" + path + "' trim 0 0 2>&1", &status);
    ASSERT_EQ(status, 0);
    std::string bytes = ReadFileBytes(path).substr(0, 44);
    WriteFileBytes(path, bytes.replace(40, 4, std::string("\x00\x94\x35\x77", 4))); // 2e9 bytes
    ASSERT_EQ(truncate(path.c_str(), 44 + 2000000000LL), 0);

    SoundFileLoad load;
    testing::internal::CaptureStderr();
    EXPECT_EQ(load.Open(path), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "WavFile: File too long to load [" + path + "]\n");

    // A small compressed file whose header promises a billion frames: room
    // grows with what arrives, not with the promise.
    const std::string flac = dir.File("lying.flac");
    RunCommand("sox -n -r 44100 -c 1 -b 16 '" + flac + "' synth 0.1 sine 440 2>&1", &status);
    ASSERT_EQ(status, 0);
    bytes = ReadFileBytes(flac);
    uint64_t info = 0;
    for (int i = 18; i < 26; i++)
        info = info << 8 | static_cast<unsigned char>(bytes[i]);
    info = (info & ~((uint64_t{1} << 36) - 1)) | 1000000000u; // the stream's total frames
    for (int i = 25; i >= 18; i--, info >>= 8)
        bytes[i] = static_cast<char>(info & 0xff);
    WriteFileBytes(flac, bytes);
    SoundFileLoad lying;
    testing::internal::CaptureStderr();
    ASSERT_EQ(lying.Open(flac), 1);
    lying.Step(SoundFileLoad::Clock::now()); // one chunk
    EXPECT_LT(lying.m_Sound.GetLength(), 1 << 20);
    while (!lying.Step(SoundFileLoad::Clock::now() + std::chrono::seconds(1))) {
    }
    testing::internal::GetCapturedStderr();
    EXPECT_TRUE(lying.Succeeded());
    EXPECT_EQ(lying.m_Sound.GetLength(), 4410);
}
