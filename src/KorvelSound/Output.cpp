#include "KorvelSound/Output.h"

#include "KorvelInfo.h"
#include "AudioDevices/JackDevice.h"
#include "KorvelSound/SampleVectors.h"
#include "AudioDevices/SoundDevice.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <iostream>
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

void Fail(SoundDevice *device, const std::string &message)
{
    device->Say(message);
    device->Exit(999);
}

const char JackPrefix[] = "jack:";

// The output whose input block the live-input plug-in reads.
const Output *s_HostInput = nullptr;

SoundDevice *SystemDevice()
{
    static SoundDevice system;
    return &system;
}

} // namespace

// Looked up by the live-input plug-in in the running program; null unless
// the output is on JACK or records from its OSS device (which may not take a
// second recording client).
extern "C" const short *KorvelLoops_InputBlock()
{
    return s_HostInput ? s_HostInput->InputBlock().GetBuffer() : nullptr;
}

bool Output::Unpaced = false;
bool Output::MixInCallback = false;

Output::Output(int channels, SoundDevice *device, JackDevice *jack)
    : m_FD(-1), m_Volume(0.5f), m_Channels(channels), m_Device(device ? device : SystemDevice()),
      m_Capture(m_Device), m_DeviceOpen(false), m_NoDevice(false), m_Jack(jack), m_DeviceFailed(false),
      m_PaceStart(-1), m_PacedFrames(0), m_FramesWritten(0), m_JackRate(0)
{
    OpenDevice();
    m_Buffer.Allocate(m_Channels * KorvelInfo::BufferSize);
    m_Buffer.Zero();
    m_InputBlock.Allocate(KorvelInfo::BufferSize);
    m_InputBlock.Zero();
}

Output::~Output()
{
    if (m_DeviceOpen) m_Device->Close(m_FD);
    if (m_Jack) {
        std::cerr << "JACK: " << m_Jack->Dropouts() << " dropouts in "
                  << m_FramesWritten / std::max(1, KorvelInfo::Samplerate) << " s of playing ("
                  << m_Jack->LostBlocks() << " blocks the server never took); the server reported "
                  << m_Jack->Xruns() << " xruns" << std::endl;
        m_Jack->Close();
    }
    if (s_HostInput == this) s_HostInput = nullptr;
    m_RecordFile.Close();
    m_Buffer.Clear();
}

bool Output::WantsJack()
{
    const std::string &name = KorvelInfo::OutputDevice;
    return name == "jack" || name.compare(0, sizeof JackPrefix - 1, JackPrefix) == 0;
}

int64_t Output::Dropouts() const
{
    return m_Jack ? m_Jack->Dropouts() : 0;
}

int64_t Output::Xruns() const
{
    return m_Jack ? m_Jack->Xruns() : 0;
}

void Output::OpenJack()
{
    if (!m_Jack) {
        m_OwnJack.reset(new JackDevice);
        m_Jack = m_OwnJack.get();
    }
    const std::string &name = KorvelInfo::OutputDevice;
    std::string server = name == "jack" ? "" : name.substr(sizeof JackPrefix - 1);
    if (!m_Jack->Open(server, KorvelInfo::BufferSize))
        Fail(m_Device, "Can't open audio driver. [" + name + ": " + m_Jack->Error() + "]\n");
    int rate = m_Jack->SampleRate();
    m_JackRate = rate;
    if (rate != KorvelInfo::Samplerate) {
        std::cerr << "JACK runs at " << rate << " Hz: Samplerate " << KorvelInfo::Samplerate
                  << " is replaced by it for this run" << std::endl;
        KorvelInfo::Samplerate = rate;
    }
    int latency = MixInCallback ? m_Jack->CallbackRoundTripFrames() : m_Jack->RoundTripFrames();
    std::cerr << "JACK: " << rate << " Hz, period " << m_Jack->PeriodFrames() << " frames, block "
              << KorvelInfo::BufferSize << " frames; round trip " << latency << " frames ("
              << std::round(latency * 10000.0 / rate) / 10 << " ms)" << std::endl;
    s_HostInput = this;
}

void Output::OpenDevice()
{
    m_NoDevice = !KorvelInfo::WantRealtimeOut;
    if (m_NoDevice) return;
    if (WantsJack()) {
        OpenJack();
        return;
    }
    m_FD = m_Device->Open(KorvelInfo::OutputDevice.c_str(), O_WRONLY);
    if (m_FD < 0) Fail(m_Device, "Can't open audio driver. [" + KorvelInfo::OutputDevice + "]\n");
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
    if (m_Jack && !m_DeviceFailed) WriteJack();
    if (m_DeviceOpen && !m_DeviceFailed) WriteDevice();
    if (m_DeviceFailed || (m_NoDevice && !Unpaced)) PaceByClock();
    m_FramesWritten += KorvelInfo::BufferSize;
    if (!m_RecordFile.Taking()) return;
    // An unpaced cycle outruns any disk; a paced one drops a block rather
    // than wait for it.
    if (Unpaced)
        m_RecordFile.PushWaiting(m_Buffer);
    else
        m_RecordFile.Push(m_Buffer);
}

void Output::TakeInput()
{
    if (m_Jack && !m_DeviceFailed && m_Jack->RunsInCallback())
        m_Jack->Read(m_InputBlock.m_Data, KorvelInfo::BufferSize);
    if (m_Capture.IsOpen()) m_Capture.Read(m_InputBlock.m_Data, KorvelInfo::BufferSize);
}

bool Output::OpenCapture()
{
    if (!HasDevice()) return false;
    // A second descriptor, read-only: a device that cannot record (or not in
    // duplex) still plays as before, and the output's write stays blocking.
    if (!m_Capture.Open(KorvelInfo::OutputDevice, KorvelInfo::BufferSize, KorvelInfo::Samplerate)) {
        std::cerr << "No OSS capture on " << KorvelInfo::OutputDevice << ": loops record only from a plug-in"
                  << std::endl;
        return false;
    }
    s_HostInput = this;
    return true;
}

void Output::SayCaptureFailure()
{
    if (const int error = m_Capture.TakeError())
        std::cerr << "Recording from " << KorvelInfo::OutputDevice << " failed (" << std::strerror(error)
                  << "): loops record silence until the program is restarted" << std::endl;
}

void Output::WriteDevice()
{
    // The whole block, in bytes; the blocking write is what paces the program.
    long written = m_Device->Write(m_FD, m_Buffer.GetBuffer(), m_Buffer.GetLength() * sizeof(short));
    if (written < 0 && errno != EINTR && errno != EAGAIN)
        DeviceFailed("Sound device " + KorvelInfo::OutputDevice + " failed (" + std::strerror(errno) + ")");
}

void Output::WriteJack()
{
    // Waiting for room in JACK's ring is what paces the program.
    if (!m_Jack->Write(m_Buffer.GetBuffer(), KorvelInfo::BufferSize, m_Channels, m_Click, m_Midi)) {
        m_InputBlock.Zero();
        DeviceFailed("JACK server is gone");
        return;
    }
    if (!m_Jack->RunsInCallback()) m_Jack->Read(m_InputBlock.m_Data, KorvelInfo::BufferSize);
    const int rate = m_Jack->SampleRate();
    if (rate != m_JackRate) {
        // The loops hold sound at the rate the program started with.
        std::cerr << "JACK now runs at " << rate << " Hz: the program goes on at " << KorvelInfo::Samplerate
                  << " Hz (pitch and speed off) until it is restarted" << std::endl;
        m_JackRate = rate;
    }
}

void Output::DeviceFailed(const std::string &line)
{
    // Nothing reopens the device; the performance goes on, silent but in
    // time, so that a recording to file keeps its pace and the machine is
    // not spun by an unpaced cycle.
    std::cerr << line << ": playing on silent until the program is restarted; recording goes on" << std::endl;
    m_DeviceFailed = true;
}

void Output::PaceByClock()
{
    const int64_t now = m_Device->NowMicros();
    int64_t due = m_PaceStart + m_PacedFrames * 1000000 / KorvelInfo::Samplerate;
    // A cycle held up for long (a slow save, say) starts the count afresh
    // rather than rushing to catch up.
    if (m_PaceStart < 0 || now - due > 1000000) {
        m_PaceStart = now;
        m_PacedFrames = 0;
    }
    m_PacedFrames += KorvelInfo::BufferSize;
    m_Device->SleepUntilMicros(m_PaceStart + m_PacedFrames * 1000000 / KorvelInfo::Samplerate);
}

void Output::Record(const char *path)
{
    m_RecordFile.Open(path, m_Channels == 1 ? WavFile::MONO : WavFile::STEREO, m_Buffer.GetLength());
}
