#include "InputDevice.h"
#include "LiveCapture.h"

#include <gtest/gtest.h>

#include <linux/soundcard.h>

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <vector>

namespace {

const int Block = 512;
const int Rate = 44100;

// A recording device on a simulated clock: bytes become readable at the times
// they are queued for, time moves only while the capture polls.
class FakeInputDevice : public InputDevice
{
public:
    struct Arrival
    {
        int64_t m_Time;
        std::vector<unsigned char> m_Bytes;
    };

    int Open(const char *path, int flags) override
    {
        m_Path = path;
        m_Flags = flags;
        if (m_OpenErrno) {
            errno = m_OpenErrno;
            return -1;
        }
        m_Closed = false;
        return 7;
    }
    int Ioctl(int, unsigned long request, int *argument) override
    {
        m_Requests.push_back(request);
        m_Arguments.push_back(*argument);
        if (request == SNDCTL_DSP_SETFMT) *argument = m_Format;
        if (request == SNDCTL_DSP_CHANNELS) *argument = m_Channels;
        if (request == SNDCTL_DSP_SPEED) *argument = m_Rate;
        return 0;
    }
    long Read(int, void *data, unsigned long bytes) override
    {
        m_Reads++;
        if (m_ReadErrno) {
            errno = m_ReadErrno;
            return -1;
        }
        size_t given = 0;
        unsigned long limit = std::min<unsigned long>(bytes, m_MaxRead);
        while (given < limit && !m_Queue.empty() && m_Queue.front().m_Time <= m_Now) {
            Arrival &front = m_Queue.front();
            size_t take = std::min<size_t>(limit - given, front.m_Bytes.size());
            std::memcpy(static_cast<unsigned char *>(data) + given, front.m_Bytes.data(), take);
            front.m_Bytes.erase(front.m_Bytes.begin(), front.m_Bytes.begin() + static_cast<long>(take));
            if (front.m_Bytes.empty()) m_Queue.pop_front();
            given += take;
        }
        if (given == 0) {
            errno = EAGAIN;
            return -1;
        }
        return static_cast<long>(given);
    }
    int Poll(int, int timeoutMs) override
    {
        m_PollTimeouts.push_back(timeoutMs);
        int64_t until = m_Now + timeoutMs * 1000LL;
        if (!m_Queue.empty() && m_Queue.front().m_Time <= until) {
            m_Now = std::max(m_Now, m_Queue.front().m_Time);
            return 1;
        }
        m_Now = until;
        return 0;
    }
    int Close(int) override
    {
        m_Closed = true;
        return 0;
    }
    int64_t NowMicros() override { return m_Now; }

    // Mono frames (or interleaved pairs when stereo) arriving at a time.
    void Queue(int64_t time, const std::vector<short> &values)
    {
        Arrival arrival{time, {}};
        for (short value : values) {
            arrival.m_Bytes.push_back(static_cast<unsigned char>(value & 0xff));
            arrival.m_Bytes.push_back(static_cast<unsigned char>((value >> 8) & 0xff));
        }
        m_Queue.push_back(arrival);
    }

    int64_t m_Now = 0;
    int m_OpenErrno = 0;
    int m_ReadErrno = 0;
    int m_Format = AFMT_S16_LE;
    int m_Channels = 1;
    int m_Rate = Rate;
    unsigned long m_MaxRead = 1 << 30;
    std::string m_Path;
    int m_Flags = -1;
    bool m_Closed = true;
    int m_Reads = 0;
    std::vector<unsigned long> m_Requests;
    std::vector<int> m_Arguments;
    std::vector<int> m_PollTimeouts;
    std::deque<Arrival> m_Queue;
};

std::vector<short> Ramp(int first, int count)
{
    std::vector<short> values(count);
    for (int i = 0; i < count; i++)
        values[i] = static_cast<short>((first + i) % 30000);
    return values;
}

std::vector<short> FillOnce(LiveCapture &capture)
{
    std::vector<short> out(Block, 12345);
    capture.Fill(out.data());
    return out;
}

} // namespace

TEST(LiveCaptureTest, OpensNonBlockingForSigned16BitAtTheHostRateAndRefusesOtherwise)
{
    FakeInputDevice device;
    LiveCapture capture(&device, Block, Rate);
    ASSERT_TRUE(capture.Open("/dev/dsp"));
    EXPECT_EQ("/dev/dsp", device.m_Path);
    EXPECT_EQ(O_RDONLY | O_NONBLOCK, device.m_Flags);
    // The fragment request has to come first; then format, channels, rate.
    ASSERT_EQ(4u, device.m_Requests.size());
    EXPECT_EQ(SNDCTL_DSP_SETFRAGMENT, device.m_Requests[0]);
    EXPECT_EQ(SNDCTL_DSP_SETFMT, device.m_Requests[1]);
    EXPECT_EQ(AFMT_S16_LE, device.m_Arguments[1]);
    EXPECT_EQ(SNDCTL_DSP_CHANNELS, device.m_Requests[2]);
    EXPECT_EQ(1, device.m_Arguments[2]);
    EXPECT_EQ(SNDCTL_DSP_SPEED, device.m_Requests[3]);
    EXPECT_EQ(Rate, device.m_Arguments[3]);

    struct Refusal
    {
        int m_Format, m_Channels, m_Rate, m_OpenErrno;
        const char *m_Says;
    };
    const Refusal refusals[] = {
        {AFMT_U8, 1, Rate, 0, "/dev/dsp does not record signed 16-bit samples"},
        {AFMT_S16_LE, 4, Rate, 0, "/dev/dsp does not record mono or stereo"},
        {AFMT_S16_LE, 1, 48000, 0, "/dev/dsp does not record at 44100 Hz"},
        {AFMT_S16_LE, 1, Rate, ENOENT, "Can't open /dev/dsp for input: No such file or directory"},
    };
    for (const Refusal &refusal : refusals) {
        FakeInputDevice refusing;
        refusing.m_Format = refusal.m_Format;
        refusing.m_Channels = refusal.m_Channels;
        refusing.m_Rate = refusal.m_Rate;
        refusing.m_OpenErrno = refusal.m_OpenErrno;
        refusing.Queue(0, Ramp(1, Block));
        LiveCapture refused(&refusing, Block, Rate);
        testing::internal::CaptureStderr();
        EXPECT_FALSE(refused.Open("/dev/dsp"));
        EXPECT_EQ(std::string("Live Input: ") + refusal.m_Says + "\n",
                  testing::internal::GetCapturedStderr());
        EXPECT_EQ(refusal.m_Says, refused.m_Status);
        EXPECT_TRUE(refusing.m_Closed);
        // A device that could not be set up gives silence, read from nowhere.
        EXPECT_EQ(std::vector<short>(Block, 0), FillOnce(refused));
        EXPECT_EQ(0, refusing.m_Reads);
        EXPECT_EQ(0, refused.m_Underruns);
    }
    // A rate within a hair of the one asked for is the same rate.
    FakeInputDevice rounding;
    rounding.m_Rate = Rate - 1;
    LiveCapture rounded(&rounding, Block, Rate);
    EXPECT_TRUE(rounded.Open("/dev/dsp"));
}

TEST(LiveCaptureTest, WholeMonoBlockPassesUnchangedExceptTheOneValueTheProgramNeverHolds)
{
    FakeInputDevice device;
    LiveCapture capture(&device, Block, Rate);
    ASSERT_TRUE(capture.Open("/dev/dsp"));
    std::vector<short> sent = Ramp(-100, Block);
    sent[7] = -32768;
    sent[8] = 32767;
    device.Queue(0, sent);
    std::vector<short> expected = sent;
    expected[7] = -32767;
    EXPECT_EQ(expected, FillOnce(capture));
    EXPECT_EQ(0, capture.m_Underruns);
    EXPECT_TRUE(device.m_PollTimeouts.empty()) << "no wait when the block is there";
}

TEST(LiveCaptureTest, StereoIsMixedToMonoEvenWhenReadsSplitFrames)
{
    FakeInputDevice device;
    device.m_Channels = 2;
    device.m_MaxRead = 3; // every read ends inside a frame
    LiveCapture capture(&device, Block, Rate);
    ASSERT_TRUE(capture.Open("/dev/dsp"));
    const std::vector<short> pairs = {1000, -3000, -32768, -32768, 32767, 32767, 3, 0, -3, 0, 0, -1};
    std::vector<short> stereo;
    while (stereo.size() < 2u * Block)
        stereo.insert(stereo.end(), pairs.begin(), pairs.end());
    stereo.resize(2 * Block);
    device.Queue(0, stereo);
    std::vector<short> out = FillOnce(capture);
    const short mono[] = {-1000, -32767, 32767, 1, -1, 0};
    for (int i = 0; i < Block; i++)
        ASSERT_EQ(mono[i % 6], out[i]) << "frame " << i;
    EXPECT_EQ(0, capture.m_Underruns);
}

TEST(LiveCaptureTest, LateInputIsAwaitedAtMostHalfABlockAndNothingIsLost)
{
    FakeInputDevice device;
    LiveCapture capture(&device, Block, Rate);
    ASSERT_TRUE(capture.Open("/dev/dsp"));
    const int64_t halfBlock = 500000LL * Block / Rate;
    EXPECT_EQ(halfBlock, capture.m_MaxWaitMicros);

    // The second half arrives a little late: waited for, whole block, no underrun.
    device.Queue(0, Ramp(0, Block / 2));
    device.Queue(3000, Ramp(Block / 2, Block / 2));
    EXPECT_EQ(Ramp(0, Block), FillOnce(capture));
    EXPECT_EQ(0, capture.m_Underruns);
    EXPECT_EQ(3000, device.m_Now);

    // Far too late: the cycle goes on after at most half a block, with silence
    // where input was missing; the late input comes with the next block.
    device.m_PollTimeouts.clear();
    int64_t start = device.m_Now;
    device.Queue(start, Ramp(Block, 100));
    device.Queue(start + 50000, Ramp(Block + 100, Block));
    std::vector<short> expected = Ramp(Block, 100);
    expected.resize(Block, 0);
    EXPECT_EQ(expected, FillOnce(capture));
    EXPECT_EQ(1, capture.m_Underruns);
    EXPECT_LE(device.m_Now - start, halfBlock);
    ASSERT_FALSE(device.m_PollTimeouts.empty());
    for (int timeout : device.m_PollTimeouts)
        EXPECT_LE(timeout * 1000LL, halfBlock);

    device.m_Now = start + 50000;
    EXPECT_EQ(Ramp(Block + 100, Block), FillOnce(capture));
    EXPECT_EQ(1, capture.m_Underruns);
    EXPECT_EQ(0, capture.m_Dropped);
}

TEST(LiveCaptureTest, BacklogAfterAStallIsDroppedSoTheInputStaysLive)
{
    FakeInputDevice device;
    LiveCapture capture(&device, Block, Rate);
    ASSERT_TRUE(capture.Open("/dev/dsp"));
    // A whole second piled up while the cycle was held up.
    device.Queue(0, Ramp(0, Rate));
    std::vector<short> out = FillOnce(capture);
    EXPECT_TRUE(device.m_Queue.empty());
    EXPECT_GT(capture.m_Dropped, 0);
    EXPECT_EQ(0, capture.m_Underruns);
    // One stretch of consecutive input, never stitched from two places, at
    // most two blocks behind the newest input.
    for (int j = 1; j < Block; j++)
        ASSERT_EQ((out[j - 1] + 1) % 30000, out[j]) << "at " << j;
    const int newest = (Rate - 1) % 30000;
    EXPECT_EQ(newest - 2 * Block + 1, out[0]);
    // The rest follows; nothing is lost or counted twice.
    EXPECT_EQ(Ramp(Rate - Block, Block), FillOnce(capture));
    EXPECT_EQ(0, capture.m_Underruns);
    EXPECT_EQ(Rate, 2 * Block + capture.m_Dropped);
    EXPECT_EQ(std::vector<short>(Block, 0), FillOnce(capture));
    EXPECT_EQ(1, capture.m_Underruns);
}

TEST(LiveCaptureTest, ReadErrorClosesTheDeviceWithOneMessage)
{
    FakeInputDevice device;
    LiveCapture capture(&device, Block, Rate);
    ASSERT_TRUE(capture.Open("/dev/dsp"));
    device.m_ReadErrno = EIO;
    testing::internal::CaptureStderr();
    EXPECT_EQ(std::vector<short>(Block, 0), FillOnce(capture));
    EXPECT_EQ(0, capture.m_Underruns);
    FillOnce(capture);
    EXPECT_EQ("Live Input: Reading the device failed: Input/output error\n",
              testing::internal::GetCapturedStderr());
    EXPECT_TRUE(device.m_Closed);
    EXPECT_FALSE(capture.IsOpen());
    EXPECT_EQ(1, device.m_Reads);
}
