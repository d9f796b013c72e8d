#include "AudioDevices/SoundDevice.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/soundcard.h>
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

long SoundDevice::Read(int fd, void *data, unsigned long bytes)
{
    return ::read(fd, data, bytes);
}

long SoundDevice::ReadableBytes(int fd)
{
    audio_buf_info info;
    if (::ioctl(fd, SNDCTL_DSP_GETISPACE, &info) < 0) return -1;
    return info.bytes;
}

int SoundDevice::Close(int fd)
{
    return ::close(fd);
}

int64_t SoundDevice::NowMicros()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

void SoundDevice::SleepUntilMicros(int64_t when)
{
    timespec until;
    until.tv_sec = static_cast<time_t>(when / 1000000);
    until.tv_nsec = static_cast<long>(when % 1000000) * 1000;
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
    }
}

void SoundDevice::Say(const std::string &line)
{
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
}

void SoundDevice::Exit(int status)
{
    std::exit(status);
}
