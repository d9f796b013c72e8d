#ifndef OUTPUT_H
#define OUTPUT_H

#include "KorvelSound/Sample.h"
#include "KorvelSound/WavFile.h"

class SoundDevice;

// The program's audio sink: assembles one interleaved block per cycle, writes
// it to the OSS device and, while recording, to a stereo WAV file.
class Output
{
public:
    // The device defaults to the real system calls.
    Output(int channels, SoundDevice *device = nullptr);
    ~Output();
    Output(const Output &) = delete;
    Output &operator=(const Output &) = delete;

    void OpenDevice();
    void ClearBuffer();
    void Send(const Sample &block, float leftGain, float rightGain);
    void Write();
    void Record(const char *path);

    Sample m_Buffer;
    int m_FD;
    float m_Volume;
    int m_Channels;
    WavFile m_RecordFile;

private:
    SoundDevice *m_Device;
    bool m_DeviceOpen;
};

#endif
