#ifndef OUTPUT_H
#define OUTPUT_H

#include "AudioDevices/OssCapture.h"
#include "Engine/RecordingWriter.h"
#include "KorvelSound/Sample.h"

#include <cstdint>
#include <memory>
#include <string>

class JackDevice;
class SoundDevice;

// The program's audio sink: assembles one interleaved block per cycle, writes
// it to the OSS device or to JACK and, while recording, hands it to the
// recording's writer.
class Output
{
public:
    // The devices default to the real ones; JACK is used when the Output
    // setting is "jack" or "jack:<server name>".
    Output(int channels, SoundDevice *device = nullptr, JackDevice *jack = nullptr);
    ~Output();
    Output(const Output &) = delete;
    Output &operator=(const Output &) = delete;

    void OpenDevice();
    void ClearBuffer();
    void Send(const Sample &block, float leftGain, float rightGain);
    void Write();
    // At a block's start: with the block made in JACK's callback, the input
    // block is this period's own; on OSS it is what the device recorded.
    void TakeInput();
    // Records from the OSS device beside playing to it, where the device
    // can; otherwise says so in one line.
    bool OpenCapture();
    bool HasCapture() const { return m_Capture.IsOpen(); }
    // Says, on the GUI's thread, why the capture stopped, once.
    void SayCaptureFailure();
    void Record(const char *path);

    static bool WantsJack();
    // Without a device (WantRealtimeOut 0) the clock paces the cycle, as a
    // device would. Tests and benchmarks that drive many cycles with no
    // device set this to run them as fast as they go; the program never does.
    static bool Unpaced;
    // The program makes its blocks in JACK's process callback: the round
    // trip it says at start is that of the callback.
    static bool MixInCallback;
    bool OnJack() const { return m_Jack != nullptr; }
    // An OSS device is open (and has not failed).
    bool HasDevice() const { return m_DeviceOpen && !m_DeviceFailed; }
    JackDevice *Jack() const { return m_Jack; }
    int64_t Dropouts() const;
    int64_t Xruns() const;
    // The input port's block of this cycle on JACK, or the OSS capture's
    // (mono, BufferSize values).
    const Sample &InputBlock() const { return m_InputBlock; }

    Sample m_Buffer;
    // This block's metronome click (mono) and clock bytes (two a frame at
    // most), or null: JACK plays them on ports of their own. Not owned.
    const short *m_Click = nullptr;
    const uint16_t *m_Midi = nullptr;
    int m_FD;
    float m_Volume;
    int m_Channels;
    // The recording: saved by a thread of its own, so the cycle never waits
    // for the disk.
    RecordingWriter m_RecordFile;

private:
    void OpenJack();
    void WriteDevice();
    void WriteJack();
    void DeviceFailed(const std::string &line);
    void PaceByClock();

    SoundDevice *m_Device;
    OssCapture m_Capture;
    bool m_DeviceOpen;
    bool m_NoDevice; // WantRealtimeOut was 0
    std::unique_ptr<JackDevice> m_OwnJack;
    JackDevice *m_Jack;
    Sample m_InputBlock;
    // Once the device stops taking sound the clock paces the cycle instead.
    bool m_DeviceFailed;
    int64_t m_PaceStart;
    int64_t m_PacedFrames;
    int64_t m_FramesWritten;
    int m_JackRate; // the server's rate last said
};

#endif
