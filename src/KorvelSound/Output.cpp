#include "KorvelSound/Output.h"

#include "KorvelInfo.h"
#include "KorvelSound/SampleVectors.h"
#include "KorvelSound/SoundDevice.h"

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <sys/soundcard.h>

namespace {

// Truncates toward zero and clamps symmetrically: -32768 is never produced.
// Clamping before the conversion gives the same result for the integer bounds
// and keeps the conversion defined for any float.
int ToSampleValue(float value)
{
    const float limit = static_cast<float>(KorvelInfo::MaxSampleValue);
    if (value != value) return 0;
    if (value > limit) value = limit;
    if (value < -limit) value = -limit;
    return static_cast<int>(value);
}

// The device's buffer for blocks of this many bytes: fragments of the
// largest power of two that fits in a block (16 bytes at least, the smallest
// a driver takes), as many as hold two blocks. The device then keeps two to
// three blocks ahead, so a cycle held up by most of a block (a redraw, an X
// round trip, another process) leaves no gap in the sound.
int FragmentRequest(int blockBytes)
{
    int shift = 4;
    while (shift < 30 && (2 << shift) <= blockBytes)
        shift++;
    const int size = 1 << shift;
    const int count = std::max((2 * blockBytes + size - 1) / size, 2);
    return (count << 16) | shift;
}

void Fail(SoundDevice *device, const char *message)
{
    std::fputs(message, stderr);
    std::fflush(stderr);
    device->Exit(999);
}

} // namespace

Output::Output(int channels, SoundDevice *device)
    : m_FD(-1), m_Volume(0.5f), m_Channels(channels), m_Device(device), m_DeviceOpen(false)
{
    static SoundDevice system;
    if (!m_Device) m_Device = &system;
    OpenDevice();
    m_Buffer.Allocate(m_Channels * KorvelInfo::BufferSize);
    m_Buffer.Zero();
}

Output::~Output()
{
    if (m_DeviceOpen) m_Device->Close(m_FD);
    m_RecordFile.Close();
    m_Buffer.Clear();
}

void Output::OpenDevice()
{
    if (!KorvelInfo::WantRealtimeOut) return;
    m_FD = m_Device->Open(KorvelInfo::OutputDevice.c_str(), O_WRONLY);
    if (m_FD < 0) Fail(m_Device, "Can't open audio driver.\n");
    m_DeviceOpen = true;

    if (m_Device->Ioctl(m_FD, SNDCTL_DSP_RESET, nullptr) < 0)
        Fail(m_Device, "Sound device did not accept settings.\n");
    int fragments = FragmentRequest(m_Channels * KorvelInfo::BufferSize * static_cast<int>(sizeof(short)));
    int channels = 1;
    int format = AFMT_S16_LE;
    int stereo = m_Channels == 2 ? 1 : 0;
    int speed = KorvelInfo::Samplerate;
    struct Request
    {
        unsigned long code;
        int *value;
    };
    const Request requests[] = {{SNDCTL_DSP_SETFRAGMENT, &fragments},
                                {SNDCTL_DSP_CHANNELS, &channels},
                                {SNDCTL_DSP_SETFMT, &format},
                                {SNDCTL_DSP_STEREO, &stereo},
                                {SNDCTL_DSP_SPEED, &speed}};
    for (const Request &request : requests) {
        if (m_Device->Ioctl(m_FD, request.code, request.value) < 0)
            Fail(m_Device, "Sound device did not accept settings.\n");
    }
}

void Output::ClearBuffer()
{
    m_Buffer.Zero();
}

void Output::Send(const Sample &block, float leftGain, float rightGain)
{
    const int B = KorvelInfo::BufferSize;
    if (B < 1) return;
    const bool stereo = m_Channels == 2;
    // A short block or buffer ends the program with the message element access gives.
    (void)block[B - 1];
    (void)m_Buffer[stereo ? 2 * B - 1 : B - 1];

    const short *in = block.GetBuffer();
    short *out = m_Buffer.GetBuffer();
    int j = 0;
#if defined(__SSE2__)
    // Eight frames at once: the loop's values scaled by the master volume,
    // then each channel's gain times its value added to what is there.
    using namespace SampleVectors;
    const __m128 volume = _mm_set1_ps(m_Volume);
    const __m128 gains =
        stereo ? _mm_setr_ps(leftGain, rightGain, leftGain, rightGain) : _mm_set1_ps(leftGain);
    for (; j + 8 <= B; j += 8) {
        const __m128i values = Load(in + j);
        const __m128 low = _mm_cvtepi32_ps(Truncate(_mm_mul_ps(WidenLow(values), volume)));
        const __m128 high = _mm_cvtepi32_ps(Truncate(_mm_mul_ps(WidenHigh(values), volume)));
        if (stereo) {
            short *frames = out + 2 * j;
            const __m128i first = Load(frames);
            const __m128i second = Load(frames + 8);
            const __m128i a =
                Truncate(_mm_add_ps(_mm_mul_ps(_mm_unpacklo_ps(low, low), gains), WidenLow(first)));
            const __m128i b =
                Truncate(_mm_add_ps(_mm_mul_ps(_mm_unpackhi_ps(low, low), gains), WidenHigh(first)));
            const __m128i c =
                Truncate(_mm_add_ps(_mm_mul_ps(_mm_unpacklo_ps(high, high), gains), WidenLow(second)));
            const __m128i d =
                Truncate(_mm_add_ps(_mm_mul_ps(_mm_unpackhi_ps(high, high), gains), WidenHigh(second)));
            Store(frames, _mm_packs_epi32(a, b));
            Store(frames + 8, _mm_packs_epi32(c, d));
        } else {
            const __m128i mixed = Load(out + j);
            const __m128i a = Truncate(_mm_add_ps(_mm_mul_ps(low, gains), WidenLow(mixed)));
            const __m128i b = Truncate(_mm_add_ps(_mm_mul_ps(high, gains), WidenHigh(mixed)));
            Store(out + j, _mm_packs_epi32(a, b));
        }
    }
#endif
    for (; j < B; j++) {
        const float value = static_cast<float>(ToSampleValue(static_cast<float>(in[j]) * m_Volume));
        if (stereo) {
            short *frame = out + 2 * j;
            frame[0] = static_cast<short>(ToSampleValue(value * leftGain + static_cast<float>(frame[0])));
            frame[1] = static_cast<short>(ToSampleValue(value * rightGain + static_cast<float>(frame[1])));
        } else {
            out[j] = static_cast<short>(ToSampleValue(value * leftGain + static_cast<float>(out[j])));
        }
    }
}

void Output::Write()
{
    // The whole block, in bytes; the blocking write is what paces the program.
    if (m_DeviceOpen) m_Device->Write(m_FD, m_Buffer.GetBuffer(), m_Buffer.GetLength() * sizeof(short));
    if (m_RecordFile.IsOpen()) m_RecordFile.Save(m_Buffer);
}

void Output::Record(const char *path)
{
    m_RecordFile.Open(path, WavFile::WRITE, m_Channels == 1 ? WavFile::MONO : WavFile::STEREO);
}
