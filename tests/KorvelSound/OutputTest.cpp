#include "KorvelSound/Output.h"

#include "../SavedSettings.h"
#include "../TestSupport.h"
#include "AudioDevices/SoundDevice.h"
#include "KorvelInfo.h"
#include "ReferenceEngine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <random>
#include <string>
#include <sys/soundcard.h>
#include <vector>

namespace {

struct ExitCalled
{
    int status;
};

// Stands in for the device: records every call, and fails the call it is told to.
class RecordingDevice : public SoundDevice
{
public:
    struct Request
    {
        unsigned long code;
        bool hasArgument;
        int value;
    };

    int Open(const char *path, int flags) override
    {
        m_Calls.push_back("open " + std::string(path));
        m_OpenFlags = flags;
        return m_FailOpen || m_Opens >= m_FailOpensFrom ? -1 : 42 + m_Opens++;
    }
    int Ioctl(int fd, unsigned long request, int *argument) override
    {
        m_Calls.push_back("ioctl " + std::to_string(fd));
        m_Requests.push_back({request, argument != nullptr, argument ? *argument : 0});
        if (fd == 43 && request == SNDCTL_DSP_CHANNELS) *argument = 2; // capture is stereo only
        return static_cast<int>(m_Requests.size()) - 1 == m_FailRequest ? -1 : 0;
    }
    long Read(int, void *data, unsigned long bytes) override
    {
        const size_t count = m_Recorded.copy(static_cast<char *>(data), bytes);
        m_Recorded.erase(0, count);
        errno = EAGAIN;
        return count > 0 ? static_cast<long>(count) : -1;
    }
    long ReadableBytes(int) override { return static_cast<long>(m_Recorded.size()); }
    long Write(int fd, const void *data, unsigned long bytes) override
    {
        m_Calls.push_back("write " + std::to_string(fd));
        m_WriteSizes.push_back(bytes);
        if (m_FailWritesFrom >= 0 && static_cast<int>(m_WriteSizes.size()) > m_FailWritesFrom) {
            errno = EIO;
            return -1;
        }
        m_Written.append(static_cast<const char *>(data), bytes);
        return static_cast<long>(bytes);
    }
    int Close(int fd) override
    {
        m_Calls.push_back("close " + std::to_string(fd));
        return 0;
    }
    [[noreturn]] void Exit(int status) override { throw ExitCalled{status}; }
    int64_t NowMicros() override { return m_Now; }
    void SleepUntilMicros(int64_t when) override
    {
        m_Sleeps.push_back(when);
        m_Now = std::max(m_Now, when);
    }

    bool m_FailOpen = false;
    int m_Opens = 0;
    int m_FailOpensFrom = 1000;
    std::string m_Recorded; // bytes the capture has waiting
    int m_FailWritesFrom = -1;
    int64_t m_Now = 5000000;
    std::vector<int64_t> m_Sleeps;
    int m_FailRequest = -1;
    int m_OpenFlags = -1;
    std::vector<std::string> m_Calls;
    std::vector<Request> m_Requests;
    std::vector<unsigned long> m_WriteSizes;
    std::string m_Written;
};

// Fails like a missing or unwilling device, then ends the process for real.
class FailingDevice : public SoundDevice
{
public:
    explicit FailingDevice(int failRequest) : m_FailRequest(failRequest) {}
    int Open(const char *, int) override { return m_FailRequest < 0 ? -1 : 3; }
    int Ioctl(int, unsigned long, int *) override { return m_Count++ == m_FailRequest ? -1 : 0; }
    int Close(int) override { return 0; }

private:
    int m_FailRequest;
    int m_Count = 0;
};

Sample Constant(short value)
{
    Sample block(KorvelInfo::BufferSize);
    for (int i = 0; i < block.GetLength(); i++)
        block.Set(i, value);
    return block;
}

std::string Bytes(const Sample &s)
{
    return std::string(reinterpret_cast<const char *>(s.m_Data), s.GetLength() * sizeof(short));
}

uint32_t LE32At(const std::string &bytes, size_t offset)
{
    uint32_t value = 0;
    for (int i = 3; i >= 0; i--)
        value = (value << 8) | static_cast<unsigned char>(bytes[offset + i]);
    return value;
}

class OutputTest : public testing::Test
{
protected:
    SavedSettings m_Saved;
};

using OutputDeathTest = OutputTest;

} // namespace

TEST_F(OutputTest, OpensAndConfiguresTheDeviceThenWritesWholeBlocks)
{
    KorvelInfo::OutputDevice = "/dev/dsp-test";
    KorvelInfo::Samplerate = 48000;
    RecordingDevice device;
    {
        Output output(2, &device);
        ASSERT_EQ(device.m_Calls.size(), 7u);
        EXPECT_EQ(device.m_Calls[0], "open /dev/dsp-test");
        EXPECT_EQ(device.m_OpenFlags, O_WRONLY);
        for (size_t i = 1; i < 7; i++)
            EXPECT_EQ(device.m_Calls[i], "ioctl 42");

        // Codes as this system's OSS header encodes them.
        const unsigned long codes[] = {0x5000, 0xC004500A, 0xC0045006, 0xC0045005, 0xC0045003, 0xC0045002};
        const unsigned long named[] = {SNDCTL_DSP_RESET,  SNDCTL_DSP_SETFRAGMENT, SNDCTL_DSP_CHANNELS,
                                       SNDCTL_DSP_SETFMT, SNDCTL_DSP_STEREO,      SNDCTL_DSP_SPEED};
        const int values[] = {0, 0x0002000B, 1, 16, 1, 48000}; // 2 fragments of 2048 bytes
        ASSERT_EQ(device.m_Requests.size(), 6u);
        for (size_t i = 0; i < 6; i++) {
            EXPECT_EQ(device.m_Requests[i].code, codes[i]) << i;
            EXPECT_EQ(device.m_Requests[i].code, named[i]) << i;
            EXPECT_EQ(device.m_Requests[i].hasArgument, i != 0) << i;
            EXPECT_EQ(device.m_Requests[i].value, values[i]) << i;
        }

        ASSERT_EQ(output.m_Buffer.GetLength(), 2 * KorvelInfo::BufferSize);
        EXPECT_EQ(output.m_Buffer[0], 0);
        EXPECT_EQ(output.m_Buffer[2 * KorvelInfo::BufferSize - 1], 0);
        EXPECT_FLOAT_EQ(output.m_Volume, 0.5f);

        output.Send(Constant(1000), 1.0f, 0.5f);
        std::string first = Bytes(output.m_Buffer);
        output.Write();
        output.ClearBuffer();
        output.Write();
        ASSERT_EQ(device.m_WriteSizes, (std::vector<unsigned long>{2048, 2048}));
        EXPECT_EQ(device.m_Written, first + std::string(2048, '\0'));
        EXPECT_EQ(device.m_Calls.back(), "write 42");
    }
    EXPECT_EQ(device.m_Calls.back(), "close 42");

    RecordingDevice monoDevice;
    Output mono(1, &monoDevice);
    EXPECT_EQ(monoDevice.m_Requests.at(4).value, 0);
    EXPECT_EQ(mono.m_Buffer.GetLength(), KorvelInfo::BufferSize);
}

TEST_F(OutputTest, DeviceBufferHoldsTwoToThreeBlocksOfWholeFragments)
{
    for (int channels : {1, 2}) {
        for (int frames : {1, 3, 8, 100, 383, 384, 511, 512, 513, 1000, 4096, 65536}) {
            KorvelInfo::BufferSize = frames;
            RecordingDevice device;
            Output output(channels, &device);
            const int request = device.m_Requests.at(1).value;
            const long count = request >> 16;
            const long size = 1L << (request & 0xFFFF);
            const long block = 2L * channels * frames;
            const long held = count * size;
            SCOPED_TRACE(std::to_string(channels) + " channels, " + std::to_string(frames) + " frames");
            EXPECT_GE(size, 16);
            EXPECT_GE(count, 2);
            // Fragments no larger than a block, so every write finds room a block after the last.
            if (block >= 16) {
                EXPECT_LE(size, block);
                EXPECT_GE(held, 2 * block);
                EXPECT_LT(held, 3 * block);
            } else {
                EXPECT_EQ(held, 32);
            }
        }
    }
}

TEST_F(OutputTest, DeviceFailuresStopAtTheFirstRefusal)
{
    RecordingDevice refusing;
    refusing.m_FailOpen = true;
    testing::internal::CaptureStderr();
    try {
        Output output(2, &refusing);
        ADD_FAILURE() << "construction went on after the device failed to open";
    } catch (const ExitCalled &exit) {
        EXPECT_EQ(exit.status, 999);
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Can't open audio driver. [/dev/dsp]\n");
    EXPECT_TRUE(refusing.m_Requests.empty());

    for (int failing = 0; failing < 6; failing++) {
        RecordingDevice device;
        device.m_FailRequest = failing;
        testing::internal::CaptureStderr();
        EXPECT_THROW(Output(2, &device), ExitCalled);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "Sound device did not accept settings.\n");
        EXPECT_EQ(device.m_Requests.size(), static_cast<size_t>(failing + 1));
    }
}

TEST_F(OutputDeathTest, DeviceFailuresEndTheProgramWith999)
{
    EXPECT_EXIT(
        {
            FailingDevice device(-1);
            Output output(2, &device);
        },
        testing::ExitedWithCode(999 % 256), "^Can't open audio driver\\. \\[/dev/dsp\\]\n$");
    for (int failing = 0; failing < 6; failing++) {
        EXPECT_EXIT(
            {
                FailingDevice device(failing);
                Output output(2, &device);
            },
            testing::ExitedWithCode(999 % 256), "^Sound device did not accept settings\\.\n$")
            << failing;
    }
}

TEST_F(OutputTest, SendScalesTruncatesAndClampsEveryAddition)
{
    KorvelInfo::WantRealtimeOut = false;
    Output output(2);

    output.Send(Constant(32767), 1.0f, 1.0f);
    EXPECT_EQ(output.m_Buffer[0], 16383);
    EXPECT_EQ(output.m_Buffer[1], 16383);
    output.Send(Constant(-1), 1.0f, 1.0f);
    EXPECT_EQ(output.m_Buffer[0], 16383);

    output.m_Volume = 1.0f;
    output.Send(Constant(32767), 1.0f, 1.0f);
    output.Send(Constant(32767), 1.0f, 1.0f);
    EXPECT_EQ(output.m_Buffer[0], 32767);
    EXPECT_EQ(output.m_Buffer[2 * KorvelInfo::BufferSize - 1], 32767);

    output.ClearBuffer();
    output.Send(Constant(-32768), 1.0f, 1.0f);
    output.Send(Constant(-32767), 1.0f, 1.0f);
    EXPECT_EQ(output.m_Buffer[0], -32767);
    EXPECT_EQ(output.m_Buffer[1], -32767);

    // Clipping happens after each addition, so a later negative block pulls
    // the clipped value down again.
    output.ClearBuffer();
    output.Send(Constant(30000), 1.0f, 1.0f);
    output.Send(Constant(30000), 1.0f, 1.0f);
    output.Send(Constant(-30000), 1.0f, 1.0f);
    EXPECT_EQ(output.m_Buffer[0], 2767);

    output.ClearBuffer();
    output.m_Volume = 0.5f;
    output.Send(Constant(2000), 0.0f, 1.0f);
    output.Send(Constant(-3), 0.0f, 0.75f);
    for (int frame = 0; frame < KorvelInfo::BufferSize; frame++) {
        ASSERT_EQ(output.m_Buffer[2 * frame], 0) << frame;
        // -3 at half volume truncates to -1; 1000 - 0.75 truncates to 999.
        ASSERT_EQ(output.m_Buffer[2 * frame + 1], 999) << frame;
    }
    output.ClearBuffer();
    output.Send(Constant(-3), 0.0f, 2.0f);
    EXPECT_EQ(output.m_Buffer[1], -2);

    Output mono(1);
    mono.Send(Constant(1000), 0.25f, 0.0f);
    for (int i = 0; i < KorvelInfo::BufferSize; i++)
        ASSERT_EQ(mono.m_Buffer[i], 125) << i;
}

// The mix of many loops value by value, as the block loop must give it.
TEST_F(OutputTest, SendMatchesTheValueByValueMixBitForBit)
{
    KorvelInfo::WantRealtimeOut = false;
    std::mt19937 random(17);
    std::uniform_real_distribution<float> gain(0.0f, 1.5f);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    for (int frames : {512, 13}) {
        KorvelInfo::BufferSize = frames;
        for (int channels : {1, 2}) {
            Output output(channels);
            std::vector<short> expected(channels * frames, 0);
            for (float volume : {0.5f, 1.0f, 0.37f, nan}) {
                output.m_Volume = volume;
                for (int send = 0; send < 20; send++) {
                    const float left = gain(random), right = gain(random);
                    Sample block;
                    reference::CopyInto(block, reference::RandomBlock(random, frames));
                    output.Send(block, left, right);
                    for (int j = 0, i = 0; j < frames; j++, i += channels) {
                        const float scaled = block[j] * volume;
                        const float v = scaled == scaled ? reference::StoreFloat(scaled) : 0.0f;
                        expected[i] = reference::StoreFloat(v * left + expected[i]);
                        if (channels == 2)
                            expected[i + 1] = reference::StoreFloat(v * right + expected[i + 1]);
                    }
                }
                ASSERT_EQ(reference::Values(output.m_Buffer), expected)
                    << frames << " " << channels << " " << volume;
            }
        }
    }
}

TEST_F(OutputDeathTest, SendOfAShortBlockEndsThroughTheSampleCheck)
{
    KorvelInfo::WantRealtimeOut = false;
    EXPECT_DEATH(
        {
            Output output(2);
            Sample shortBlock(KorvelInfo::BufferSize - 1);
            shortBlock.Zero();
            output.Send(shortBlock, 1.0f, 1.0f);
        },
        "operator\\[\\].*KorvelSound/Sample\\.h.*i>=0 && i<m_Length");
}

TEST_F(OutputTest, WithoutRealtimeOutputNothingTouchesTheDeviceButRecordingGoesOn)
{
    KorvelInfo::WantRealtimeOut = false;
    TempDir dir;
    RecordingDevice device;
    std::string expected;
    {
        Output output(2, &device);
        output.Record(dir.File("rec.wav").c_str());
        for (int b = 0; b < 4; b++) {
            output.ClearBuffer();
            output.Send(Constant(static_cast<short>(100 * b + 7)), 1.0f, 0.5f);
            expected += Bytes(output.m_Buffer);
            output.Write();
        }
    } // the destructor completes the recording
    EXPECT_TRUE(device.m_Calls.empty());
    // The clock paces the cycle in place of the device: one block period
    // apart, not as fast as the machine goes.
    ASSERT_EQ(device.m_Sleeps.size(), 4u);
    EXPECT_NEAR(device.m_Sleeps[3] - device.m_Sleeps[0],
                3 * 1000000LL * KorvelInfo::BufferSize / KorvelInfo::Samplerate, 1);
    Output::Unpaced = true;
    Output(2, &device).Write();
    Output::Unpaced = false;
    EXPECT_EQ(device.m_Sleeps.size(), 4u);
    std::string file = ReadFileBytes(dir.File("rec.wav"));
    ASSERT_EQ(file.size(), 44 + expected.size());
    EXPECT_EQ(file.substr(44), expected);
    EXPECT_EQ(LE32At(file, 40), expected.size());
    EXPECT_EQ(LE32At(file, 4), 36 + expected.size());
}

TEST_F(OutputTest, RecordingStartedMidwayHoldsOnlyTheLaterBlocks)
{
    TempDir dir;
    RecordingDevice device;
    Output output(2, &device);
    for (int b = 0; b < 2; b++) {
        output.ClearBuffer();
        output.Send(Constant(5000), 1.0f, 1.0f);
        output.Write();
    }
    output.Record(dir.File("mid.wav").c_str());
    std::string expected;
    for (int b = 0; b < 3; b++) {
        output.ClearBuffer();
        output.Send(Constant(static_cast<short>(-200 * (b + 1))), 0.5f, 1.0f);
        expected += Bytes(output.m_Buffer);
        output.Write();
    }
    EXPECT_EQ(output.m_RecordFile.Close(), 1);
    output.Write(); // after stopping: device only
    EXPECT_EQ(device.m_WriteSizes.size(), 6u);

    std::string file = ReadFileBytes(dir.File("mid.wav"));
    const size_t blockBytes = KorvelInfo::BufferSize * 2 * 2;
    ASSERT_EQ(file.size(), 44 + 3 * blockBytes);
    EXPECT_EQ(LE32At(file, 40), 3 * blockBytes);
    EXPECT_EQ(LE32At(file, 40) % blockBytes, 0u);
    EXPECT_EQ(LE32At(file, 4), 36 + 3 * blockBytes);
    EXPECT_EQ(file.substr(22, 2), std::string("\x02\x00", 2));
    EXPECT_EQ(file.substr(44), expected);
    // What was recorded is exactly what the device received in those cycles.
    EXPECT_EQ(device.m_Written.substr(2 * blockBytes, 3 * blockBytes), expected);

    testing::internal::CaptureStderr();
    output.Record(dir.File("missing/x.wav").c_str());
    output.Write();
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "WavFile: File open error [" + dir.File("missing/x.wav") + "]\n");
    EXPECT_EQ(device.m_WriteSizes.size(), 7u);
}

TEST_F(OutputTest, ADeviceThatStopsTakingSoundIsSaidOnceAndTheClockPacesOnWhileRecording)
{
    TempDir dir;
    RecordingDevice device;
    device.m_FailWritesFrom = 2;
    Output output(2, &device);
    output.Record(dir.File("rec.wav").c_str());
    testing::internal::CaptureStderr();
    const int blocks = 100;
    for (int b = 0; b < blocks; b++) {
        output.ClearBuffer();
        output.Send(Constant(1000), 1.0f, 1.0f);
        output.Write();
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Sound device /dev/dsp failed (Input/output error): playing on silent until the program is "
              "restarted; recording goes on\n");
    // The failed device is left alone; from the failing block on, each
    // block waits for its time, one block period after the one before.
    EXPECT_EQ(device.m_WriteSizes.size(), 3u);
    ASSERT_EQ(device.m_Sleeps.size(), static_cast<size_t>(blocks - 2));
    const int64_t period = 1000000LL * KorvelInfo::BufferSize / KorvelInfo::Samplerate;
    for (size_t i = 1; i < device.m_Sleeps.size(); i++)
        ASSERT_NEAR(device.m_Sleeps[i] - device.m_Sleeps[i - 1], period, 1) << i;
    EXPECT_EQ(output.m_RecordFile.Close(), 1);
    EXPECT_EQ(ReadFileBytes(dir.File("rec.wav")).size(), 44u + blocks * KorvelInfo::BufferSize * 4);
}

// Stereo frames first to last-1: left i, right i + 200, so each mixes to i + 100.
std::string CapturedFrames(int first, int last)
{
    std::string bytes;
    for (int i = first; i < last; i++)
        for (int value : {i, i + 200})
            bytes += {static_cast<char>(value & 0xff), static_cast<char>(value >> 8)};
    return bytes;
}

TEST_F(OutputTest, CaptureReadsWhatCameWithoutWaitingAndDropsAStaleBacklog)
{
    KorvelInfo::OutputDevice = "/dev/dsp-test";
    KorvelInfo::BufferSize = 64;
    KorvelInfo::Samplerate = 44100;
    RecordingDevice device;
    Output output(2, &device);
    const size_t first = device.m_Requests.size() + 1; // after the fragment hint
    ASSERT_TRUE(output.OpenCapture());
    EXPECT_EQ(device.m_Calls.at(7), "open /dev/dsp-test");
    EXPECT_EQ(device.m_OpenFlags, O_RDONLY | O_NONBLOCK);
    const std::pair<unsigned long, int> asked[] = {
        {SNDCTL_DSP_SETFMT, AFMT_S16_LE}, {SNDCTL_DSP_CHANNELS, 1}, {SNDCTL_DSP_SPEED, 44100}};
    for (size_t i = 0; i < 3; i++)
        EXPECT_EQ(std::make_pair(device.m_Requests.at(first + i).code, device.m_Requests[first + i].value),
                  asked[i]);
    const short *in = output.InputBlock().m_Data;
    auto expectBlock = [&](int from, int sounding) {
        output.TakeInput();
        for (int i = 0; i < 64; i++)
            ASSERT_EQ(in[i], i < sounding ? from + i + 100 : 0) << i;
    };
    // A block and a half came, and half of the next frame.
    device.m_Recorded = CapturedFrames(0, 96) + CapturedFrames(96, 97).substr(0, 2);
    expectBlock(0, 64);
    expectBlock(64, 32);
    device.m_Recorded += CapturedFrames(96, 97).substr(2) + CapturedFrames(97, 160);
    expectBlock(96, 64);
    // More than half a second waiting: the latest whole block goes out, what came after it next.
    device.m_Recorded = CapturedFrames(0, 64 * 346 + 6);
    expectBlock(64 * 345, 64);
    expectBlock(64 * 346, 6);

    RecordingDevice silent;
    silent.m_FailOpensFrom = 1;
    Output playing(2, &silent);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(playing.OpenCapture() || playing.HasCapture());
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "No OSS capture on /dev/dsp-test: loops record only from a plug-in\n");
}
