#include "InputDevice.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>

int InputDevice::Open(const char *path, int flags)
{
    return open(path, flags);
}

int InputDevice::Ioctl(int fd, unsigned long request, int *argument)
{
    return ioctl(fd, request, argument);
}

long InputDevice::Read(int fd, void *data, unsigned long bytes)
{
    return read(fd, data, bytes);
}

int InputDevice::Poll(int fd, int timeoutMs)
{
    struct pollfd wanted = {fd, POLLIN, 0};
    int ready = poll(&wanted, 1, timeoutMs);
    if (ready < 0) return -1;
    return ready > 0 ? 1 : 0;
}

int InputDevice::Close(int fd)
{
    return close(fd);
}

int64_t InputDevice::NowMicros()
{
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}
