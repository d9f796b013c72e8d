#ifndef SOUND_DEVICE_H
#define SOUND_DEVICE_H

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
    // Ends the program; a stand-in may throw or record instead.
    [[noreturn]] virtual void Exit(int status);
};

#endif
