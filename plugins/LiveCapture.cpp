#include "LiveCapture.h"

#include "InputDevice.h"

#include <linux/soundcard.h>

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iostream>

namespace {

// A device rate further off than this would record at the wrong pitch.
const double RateTolerance = 0.01;

int FloorLog2(int value)
{
    int log = 0;
    while ((2 << log) <= value)
        log++;
    return log;
}

} // namespace

LiveCapture::LiveCapture(InputDevice *device, int blockSize, int samplerate)
    : m_BlockSize(blockSize), m_Samplerate(samplerate), m_Channels(1),
      m_MaxWaitMicros(static_cast<int>(500000LL * blockSize / samplerate)), m_Underruns(0), m_Dropped(0),
      m_Status("Not open"), m_Device(device), m_FD(-1), m_Head(0), m_Count(0), m_Carry(0)
{
}

LiveCapture::~LiveCapture()
{
    Close();
}

int LiveCapture::MaxBacklog() const
{
    return std::max(4 * m_BlockSize, m_Samplerate / 4);
}

bool LiveCapture::Fail(const std::string &why)
{
    m_Status = why;
    std::cerr << "Live Input: " << why << std::endl;
    Close();
    return false;
}

bool LiveCapture::Open(const std::string &path)
{
    Close();
    m_FD = m_Device->Open(path.c_str(), O_RDONLY | O_NONBLOCK);
    if (m_FD < 0) return Fail("Can't open " + path + " for input: " + std::strerror(errno));

    // Fragments of about a block, so data arrives in pieces the cycle can use;
    // a device that keeps its own is fine too.
    int fragment = (0x7fff << 16) | FloorLog2(std::max(16, m_BlockSize * 2));
    m_Device->Ioctl(m_FD, SNDCTL_DSP_SETFRAGMENT, &fragment);

    int format = AFMT_S16_LE;
    if (m_Device->Ioctl(m_FD, SNDCTL_DSP_SETFMT, &format) < 0 || format != AFMT_S16_LE)
        return Fail(path + " does not record signed 16-bit samples");
    int channels = 1;
    if (m_Device->Ioctl(m_FD, SNDCTL_DSP_CHANNELS, &channels) < 0 || channels < 1 || channels > 2)
        return Fail(path + " does not record mono or stereo");
    int rate = m_Samplerate;
    if (m_Device->Ioctl(m_FD, SNDCTL_DSP_SPEED, &rate) < 0 ||
        std::abs(rate - m_Samplerate) > RateTolerance * m_Samplerate)
        return Fail(path + " does not record at " + std::to_string(m_Samplerate) + " Hz");

    m_Channels = channels;
    m_Fifo.assign(static_cast<size_t>(MaxBacklog() + 2 * m_BlockSize), 0);
    m_Head = 0;
    m_Count = 0;
    m_Raw.assign(static_cast<size_t>(2 * m_BlockSize * m_Channels * 2), 0);
    m_Carry = 0;
    m_Status = "Recording from " + path + (m_Channels == 2 ? " (stereo to mono)" : " (mono)");
    return true;
}

void LiveCapture::Close()
{
    if (m_FD >= 0) m_Device->Close(m_FD);
    m_FD = -1;
    m_Count = 0;
    m_Carry = 0;
}

void LiveCapture::Push(short value)
{
    if (m_Count == m_Fifo.size()) {
        m_Head = (m_Head + 1) % m_Fifo.size();
        m_Count--;
        m_Dropped++;
    }
    m_Fifo[(m_Head + m_Count) % m_Fifo.size()] = value;
    m_Count++;
}

int LiveCapture::Pop(short *out, int wanted)
{
    int taken = static_cast<int>(std::min<size_t>(m_Count, static_cast<size_t>(wanted)));
    for (int i = 0; i < taken; i++) {
        out[i] = m_Fifo[m_Head];
        m_Head = (m_Head + 1) % m_Fifo.size();
    }
    m_Count -= static_cast<size_t>(taken);
    return taken;
}

void LiveCapture::Trim(int keep)
{
    size_t drop = m_Count - static_cast<size_t>(keep);
    m_Head = (m_Head + drop) % m_Fifo.size();
    m_Count -= drop;
    m_Dropped += static_cast<int64_t>(drop);
}

void LiveCapture::Drain()
{
    const size_t frameBytes = 2 * static_cast<size_t>(m_Channels);
    // Up to a second of input per call, so a backlog is gone at once; a device
    // that never runs dry cannot keep the cycle here.
    const size_t most = std::max(m_Fifo.size(), static_cast<size_t>(m_Samplerate));
    const size_t maxReads = most * frameBytes / m_Raw.size() + 2;
    for (size_t reads = 0; reads < maxReads && m_FD >= 0; reads++) {
        const size_t wanted = m_Raw.size() - m_Carry;
        long got = m_Device->Read(m_FD, m_Raw.data() + m_Carry, wanted);
        if (got < 0) {
            if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
                Fail(std::string("Reading the device failed: ") + std::strerror(errno));
            break;
        }
        if (got == 0) break;
        const size_t bytes = m_Carry + static_cast<size_t>(got);
        const size_t frames = bytes / frameBytes;
        const unsigned char *raw = m_Raw.data();
        for (size_t f = 0; f < frames; f++, raw += frameBytes) {
            int left = static_cast<int16_t>(raw[0] | (raw[1] << 8));
            // The program never holds -32768; it becomes -32767 here too.
            if (m_Channels == 1) {
                Push(static_cast<short>(std::max(-32767, left)));
            } else {
                int right = static_cast<int16_t>(raw[2] | (raw[3] << 8));
                Push(static_cast<short>(std::max(-32767, (left + right) / 2)));
            }
        }
        m_Carry = bytes - frames * frameBytes;
        std::memmove(m_Raw.data(), m_Raw.data() + frames * frameBytes, m_Carry);
        if (static_cast<size_t>(got) < wanted) break; // the device ran dry
    }
    if (m_Count > static_cast<size_t>(MaxBacklog())) Trim(2 * m_BlockSize);
}

void LiveCapture::Fill(short *out)
{
    int filled = 0;
    if (m_FD >= 0) {
        const int64_t start = m_Device->NowMicros();
        Drain();
        while (m_FD >= 0 && m_Count < static_cast<size_t>(m_BlockSize)) {
            const int64_t left = m_MaxWaitMicros - (m_Device->NowMicros() - start);
            if (left < 1000) break;
            if (m_Device->Poll(m_FD, static_cast<int>(left / 1000)) <= 0) break;
            Drain();
        }
        filled = Pop(out, m_BlockSize);
        if (filled < m_BlockSize && m_FD >= 0) m_Underruns++;
    }
    std::fill(out + filled, out + m_BlockSize, static_cast<short>(0));
}
