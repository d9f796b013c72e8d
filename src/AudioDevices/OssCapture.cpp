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

int FloorLog2(int value)
{
    int log = 0;
    while ((2 << log) <= value)
        log++;
    return log;
}

// The program never holds -32768.
short Limited(int value)
{
    return static_cast<short>(std::max(-32767, value));
}

} // namespace

OssCapture::OssCapture(SoundDevice *device)
    : m_Device(device), m_FD(-1), m_Channels(1), m_MaxBacklog(0), m_Carry(0), m_Failed(false), m_Error(0)
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
    // Fragments of about a block, so input comes in pieces a cycle can use;
    // a device that keeps its own is fine too.
    int fragment = (0x7fff << 16) | FloorLog2(std::max(16, 2 * blockFrames));
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
    // A device may hand recordings over in bursts (PulseAudio's emulation
    // holds up to 0.18 s back): only more than a quarter second is stale.
    m_MaxBacklog = std::max<long>(4 * blockFrames, samplerate / 4) * frameBytes;
    m_Raw.assign(static_cast<size_t>(blockFrames * frameBytes), 0);
    m_Carry = 0;
    m_Failed = false;
    return true;
}

void OssCapture::Close()
{
    if (m_FD >= 0) m_Device->Close(m_FD);
    m_FD = -1;
}

void OssCapture::DropBacklog(int frames)
{
    const long waiting = m_Device->ReadableBytes(m_FD);
    if (waiting <= m_MaxBacklog) return;
    const long frameBytes = 2 * m_Channels;
    // All but the block read next, ending where a frame ends.
    long drop = waiting - frames * frameBytes;
    drop -= (drop + static_cast<long>(m_Carry)) % frameBytes;
    long dropped = 0;
    long last = 0;
    const long most = drop / static_cast<long>(m_Raw.size()) + 2;
    for (long reads = 0; dropped < drop && reads < most; reads++) {
        last = m_Device->Read(m_FD, m_Raw.data(), std::min<long>(drop - dropped, m_Raw.size()));
        if (last <= 0) break;
        dropped += last;
    }
    if (dropped == 0) return;
    // A read cut short leaves part of a frame: keep it, so frames stay whole.
    const size_t partial = static_cast<size_t>((static_cast<long>(m_Carry) + dropped) % frameBytes);
    if (last > 0 && static_cast<size_t>(last) >= partial)
        std::memmove(m_Raw.data(), m_Raw.data() + last - partial, partial);
    m_Carry = partial;
}

void OssCapture::Read(short *out, int frames)
{
    int filled = 0;
    if (m_FD >= 0 && !m_Failed && frames > 0) {
        const size_t frameBytes = 2 * static_cast<size_t>(m_Channels);
        const int block = std::min(frames, static_cast<int>(m_Raw.size() / frameBytes));
        DropBacklog(block);
        const size_t wanted = block * frameBytes - m_Carry;
        const long got = m_Device->Read(m_FD, m_Raw.data() + m_Carry, wanted);
        if (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
            m_Failed = true;
            m_Error.store(errno ? errno : EIO, std::memory_order_relaxed);
        }
        const size_t bytes = m_Carry + static_cast<size_t>(std::max(0L, got));
        filled = static_cast<int>(bytes / frameBytes);
        const unsigned char *raw = m_Raw.data();
        for (int f = 0; f < filled; f++, raw += frameBytes) {
            const int left = static_cast<int16_t>(raw[0] | (raw[1] << 8));
            const int right = m_Channels == 2 ? static_cast<int16_t>(raw[2] | (raw[3] << 8)) : left;
            out[f] = Limited((left + right) / 2);
        }
        m_Carry = bytes - filled * frameBytes;
        std::memmove(m_Raw.data(), raw, m_Carry);
    }
    if (frames > filled) std::fill(out + filled, out + frames, static_cast<short>(0));
}
