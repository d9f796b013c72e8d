#ifndef LIVE_CAPTURE_H
#define LIVE_CAPTURE_H

#include <cstdint>
#include <string>
#include <vector>

class InputDevice;

// Records from an OSS device, signed 16-bit, mono or stereo mixed to mono,
// one block per call, without ever holding up the audio cycle: it takes what
// the device has, waits at most half a block for the rest and fills whatever
// is still missing with silence, counting that block as an underrun.
class LiveCapture
{
public:
    LiveCapture(InputDevice *device, int blockSize, int samplerate);
    ~LiveCapture();
    LiveCapture(const LiveCapture &) = delete;
    LiveCapture &operator=(const LiveCapture &) = delete;

    // Opens and configures the device; on failure says why on standard error
    // and in m_Status, and every block is silent.
    bool Open(const std::string &path);
    void Close();
    bool IsOpen() const { return m_FD >= 0; }

    // Writes m_BlockSize samples to out.
    void Fill(short *out);

    // More than this many frames waiting means the cycle was held up (a file
    // chooser, say); the oldest are then dropped to keep the input live.
    int MaxBacklog() const;

    int m_BlockSize;
    int m_Samplerate;
    int m_Channels;       // what the device accepted: 1 or 2
    int m_MaxWaitMicros;  // longest wait for a late block
    int64_t m_Underruns;  // blocks that were not complete
    int64_t m_Dropped;    // frames thrown away from a backlog
    std::string m_Status; // one line for the window

private:
    bool Fail(const std::string &why);
    void Drain();
    void Push(short value);
    int Pop(short *out, int wanted);
    void Trim(int keep);

    InputDevice *m_Device;
    int m_FD;
    std::vector<short> m_Fifo; // mono frames read but not yet handed out
    size_t m_Head;
    size_t m_Count;
    std::vector<unsigned char> m_Raw; // bytes as read, a partial frame carried over
    size_t m_Carry;
};

#endif
