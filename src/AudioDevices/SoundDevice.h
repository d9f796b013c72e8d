#ifndef SOUND_DEVICE_H
#define SOUND_DEVICE_H

#include <cstdint>
#include <string>

// The system calls that reach the sound device. Output goes only through this
// class, so tests can stand in for the device and see every request.
class SoundDevice
{
public:
    virtual ~SoundDevice() = default;
    virtual int Open(const char *path, int flags);
    virtual int Ioctl(int fd, unsigned long request, int *argument);
    virtual long Write(int fd, const void *data, unsigned long bytes);
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
