#ifndef OSS_CAPTURE_H
#define OSS_CAPTURE_H

#include <atomic>
#include <string>
#include <vector>

class SoundDevice;

// What the OSS device records, one mono block per cycle, taken without ever
// waiting: the device is opened a second time, read-only and non-blocking,
// beside the output's own descriptor, so a device that cannot record leaves
// the output as it was. Whatever has not arrived is silence; a backlog left
// by a held-up cycle is dropped, so the input never runs late.
class OssCapture
{
public:
    explicit OssCapture(SoundDevice *device);
    ~OssCapture();
    OssCapture(const OssCapture &) = delete;
    OssCapture &operator=(const OssCapture &) = delete;

    // Signed 16-bit at this rate, mono or stereo as the device gives; false
    // (and closed) when the device refuses any of it.
    bool Open(const std::string &path, int blockFrames, int samplerate);
    void Close();
    bool IsOpen() const { return m_FD >= 0; }
    // Fills frames (at most the block's) with what came, stereo mixed to mono,
    // and silence after it. No allocation, no output, no wait: the audio
    // thread calls it.
    void Read(short *out, int frames);
    // The error that stopped the reading, once (0 when none); for the GUI's
    // thread to say.
    int TakeError() { return m_Error.exchange(0, std::memory_order_relaxed); }

private:
    // Bytes read into m_Raw from offset on; 0 for none (an error stops the
    // reading).
    long ReadInto(size_t offset, size_t bytes);

    SoundDevice *m_Device;
    int m_FD;
    int m_Channels;
    long m_MaxBacklog; // bytes waiting beyond which the input is stale
    std::vector<unsigned char> m_Raw;
    size_t m_Have; // bytes at m_Raw's start that the next block begins with
    bool m_Failed;
    std::atomic<int> m_Error;
};

#endif
