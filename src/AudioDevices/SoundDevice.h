#ifndef SOUND_DEVICE_H
#define SOUND_DEVICE_H

#include <cstdint>
#include <string>

// The system calls that reach the sound device. Output and capture go only
// through this class, so tests can stand in for the device and see every
// request.
class SoundDevice
{
public:
    virtual ~SoundDevice() = default;
    virtual int Open(const char *path, int flags);
    virtual int Ioctl(int fd, unsigned long request, int *argument);
    virtual long Write(int fd, const void *data, unsigned long bytes);
    // As read(2): bytes read, or -1 with errno set (EAGAIN: nothing waits).
    virtual long Read(int fd, void *data, unsigned long bytes);
    // Bytes recorded and waiting to be read, as SNDCTL_DSP_GETISPACE says;
    // -1 when the device does not say.
    virtual long ReadableBytes(int fd);
    virtual int Close(int fd);
    // A monotonic clock, and a sleep until a time on it: they pace the
    // program when the device no longer does.
    virtual int64_t NowMicros();
    virtual void SleepUntilMicros(int64_t when);
    // The program's last line before it ends, on standard error.
    virtual void Say(const std::string &line);
    // Ends the program; a stand-in may throw or record instead.
    [[noreturn]] virtual void Exit(int status);
};

#endif
