#include "AudioDevices/OssCapture.h"

#include "AudioDevices/SoundDevice.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/soundcard.h>

namespace {

// A device rate further off than this would record at the wrong pitch.
const double RateTolerance = 0.01;

const int CaptureFragmentShift = 14;

// The program never holds -32768.
short Limited(int value)
{
    return static_cast<short>(std::max(-32767, value));
}

} // namespace

OssCapture::OssCapture(SoundDevice *device)
    : m_Device(device), m_FD(-1), m_Channels(1), m_MaxBacklog(0), m_Have(0), m_Failed(false), m_Error(0)
{
}

OssCapture::~OssCapture()
{
    Close();
}

bool OssCapture::Open(const std::string &path, int blockFrames, int samplerate)
{
    Close();
    m_FD = m_Device->Open(path.c_str(), O_RDONLY | O_NONBLOCK);
    if (m_FD < 0) return false;
    // Fragments of 16 KB: through PulseAudio's emulation, where most systems
    // find /dev/dsp, half or more of the input comes with fragments this large
    // and a tenth or less with fragments of a block (measured); a real device
    // then hands over 0.19 s at a time, which the blocks take in turn.
    int fragment = (0x7fff << 16) | CaptureFragmentShift;
    m_Device->Ioctl(m_FD, SNDCTL_DSP_SETFRAGMENT, &fragment);
    int format = AFMT_S16_LE;
    int channels = 1;
    int rate = samplerate;
    if (m_Device->Ioctl(m_FD, SNDCTL_DSP_SETFMT, &format) < 0 || format != AFMT_S16_LE ||
        m_Device->Ioctl(m_FD, SNDCTL_DSP_CHANNELS, &channels) < 0 || channels < 1 || channels > 2 ||
        m_Device->Ioctl(m_FD, SNDCTL_DSP_SPEED, &rate) < 0 ||
        std::abs(rate - samplerate) > RateTolerance * samplerate) {
        Close();
        return false;
    }
    m_Channels = channels;
    const long frameBytes = 2 * m_Channels;
    // Two fragments may wait between reads; only more than that, and more
    // than half a second, is stale.
    m_MaxBacklog = std::max<long>(
        {4L * blockFrames * frameBytes, (samplerate / 2) * frameBytes, 2L << CaptureFragmentShift});
    // Room for a block and the one read behind it.
    m_Raw.assign(static_cast<size_t>(2 * blockFrames * frameBytes), 0);
    m_Have = 0;
    m_Failed = false;
    return true;
}

void OssCapture::Close()
{
    if (m_FD >= 0) m_Device->Close(m_FD);
    m_FD = -1;
}

long OssCapture::ReadInto(size_t offset, size_t bytes)
{
    const long got = m_Device->Read(m_FD, m_Raw.data() + offset, bytes);
    if (got >= 0) return got;
    if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
        m_Failed = true;
        m_Error.store(errno ? errno : EIO, std::memory_order_relaxed);
    }
    return 0;
}

void OssCapture::Read(short *out, int frames)
{
    size_t filled = 0;
    if (m_FD >= 0 && !m_Failed && frames > 0) {
        const size_t frameBytes = 2 * static_cast<size_t>(m_Channels);
        const size_t blockBytes = std::min<size_t>(frames, m_Raw.size() / 2 / frameBytes) * frameBytes;
        m_Have = std::min(m_Have, blockBytes); // a block shorter than the last
        m_Have += static_cast<size_t>(ReadInto(m_Have, blockBytes - m_Have));
        size_t later = 0; // bytes of a later block, read behind this one
        const long waiting = m_Have == blockBytes ? m_Device->ReadableBytes(m_FD) : 0;
        if (waiting > m_MaxBacklog) {
            // Stale: read on while whole blocks come, and hand out the latest.
            // (PulseAudio's emulation counts what it has yet to pass on: the
            // reads end where its input does.)
            for (long reads = waiting / static_cast<long>(blockBytes) + 1; reads > 0; reads--) {
                later = static_cast<size_t>(ReadInto(blockBytes, blockBytes));
                if (later < blockBytes) break;
                std::memcpy(m_Raw.data(), m_Raw.data() + blockBytes, blockBytes);
                later = 0;
            }
        }
        filled = m_Have / frameBytes;
        const unsigned char *raw = m_Raw.data();
        for (size_t f = 0; f < filled; f++, raw += frameBytes) {
            const int left = static_cast<int16_t>(raw[0] | (raw[1] << 8));
            const int right = m_Channels == 2 ? static_cast<int16_t>(raw[2] | (raw[3] << 8)) : left;
            out[f] = Limited((left + right) / 2);
        }
        // Kept for the next block: the start of a later one, or part of a frame.
        const size_t from = filled * frameBytes;
        m_Have = later > 0 ? later : m_Have - from;
        std::memmove(m_Raw.data(), m_Raw.data() + from, m_Have);
    }
    if (static_cast<size_t>(frames) > filled) std::fill(out + filled, out + frames, static_cast<short>(0));
}
