#include "KorvelSound/SoundDevice.h"

#include <cstdlib>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

int SoundDevice::Open(const char *path, int flags)
{
    return ::open(path, flags);
}

int SoundDevice::Ioctl(int fd, unsigned long request, int *argument)
{
    return ::ioctl(fd, request, argument);
}

long SoundDevice::Write(int fd, const void *data, unsigned long bytes)
{
    return ::write(fd, data, bytes);
}

int SoundDevice::Close(int fd)
{
    return ::close(fd);
}

void SoundDevice::Exit(int status)
{
    std::exit(status);
}
