#ifndef INPUT_DEVICE_H
#define INPUT_DEVICE_H

#include <cstdint>

// The system calls through which the live input reaches the sound device, and
// the clock it keeps its waits short by. Tests stand in for all of them.
class InputDevice
{
public:
    virtual ~InputDevice() = default;
    virtual int Open(const char *path, int flags);
    virtual int Ioctl(int fd, unsigned long request, int *argument);
    // As read(2): bytes read, 0, or -1 with errno set (EAGAIN when nothing is waiting).
    virtual long Read(int fd, void *data, unsigned long bytes);
    // 1 when the device has data within the timeout, 0 when not, -1 on error.
    virtual int Poll(int fd, int timeoutMs);
    virtual int Close(int fd);
    // A monotonic clock in microseconds.
    virtual int64_t NowMicros();
};

#endif
