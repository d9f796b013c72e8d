// Stands in for the OSS sound device when preloaded (LD_PRELOAD): open, ioctl,
// write and close on the device path (KORVEL_SHIM_DEVICE) reach this instead
// of a driver. With KORVEL_SHIM_PACE=1 it plays like a card: it holds what the
// fragment request asked for, drains at the rate and format the program set,
// and a write blocks until the block fits. A write that finds the device run
// dry is a late block. After KORVEL_SHIM_WARMUP blocks it counts blocks, late
// blocks, wall time, the program's CPU time and the CPU time of the process
// KORVEL_SHIM_WATCH (the X server), and at close appends them as one line to
// KORVEL_SHIM_REPORT.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/soundcard.h>
#include <time.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cerrno>
#include <cstring>

namespace {

struct Counts
{
    double wall, cpu, watched;
};

const char *Setting(const char *name, const char *fallback)
{
    const char *value = std::getenv(name);
    return value && *value ? value : fallback;
}

double Seconds(clockid_t clock)
{
    timespec now;
    clock_gettime(clock, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// CPU seconds of another process, from /proc; 0 when there is none.
double WatchedSeconds()
{
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%s/stat", Setting("KORVEL_SHIM_WATCH", "0"));
    FILE *file = std::fopen(path, "r");
    if (!file) return 0.0;
    unsigned long user = 0, system = 0;
    // utime and stime are fields 14 and 15; the command name (field 2) has no spaces here.
    int read =
        std::fscanf(file, "%*d %*s %*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu", &user, &system);
    std::fclose(file);
    return read == 2 ? static_cast<double>(user + system) / static_cast<double>(sysconf(_SC_CLK_TCK)) : 0.0;
}

Counts Now()
{
    return {Seconds(CLOCK_MONOTONIC), Seconds(CLOCK_PROCESS_CPUTIME_ID), WatchedSeconds()};
}

struct Device
{
    int fd = -1;
    long capacity = 65536; // bytes held ahead
    long rate = 8000, channels = 1, bytesPerValue = 1;
    bool started = false;
    double level = 0.0, last = 0.0;
    long blocks = 0, late = 0, bytes = 0;
    long warmup = 0;
    bool paced = true;
    Counts start{};
} device;

// The system's own calls, looked up once.
template <typename F> F Real(const char *name, F &cached)
{
    if (!cached) cached = reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
    return cached;
}

typedef int (*OpenFunc)(const char *, int, ...);
OpenFunc realOpen, realOpen64;
int (*realIoctl)(int, unsigned long, void *);
ssize_t (*realWrite)(int, const void *, size_t);
int (*realClose)(int);

int OpenDevice(const char *path, int flags, mode_t mode, OpenFunc real)
{
    if (path && std::strcmp(path, Setting("KORVEL_SHIM_DEVICE", "/dev/korvel-shim")) == 0) {
        // A device that only plays: the program's capture is refused.
        if ((flags & O_ACCMODE) == O_RDONLY) {
            errno = ENODEV;
            return -1;
        }
        device = Device();
        device.warmup = std::atol(Setting("KORVEL_SHIM_WARMUP", "100"));
        device.paced = std::atoi(Setting("KORVEL_SHIM_PACE", "1")) != 0;
        device.fd = real("/dev/null", O_WRONLY);
        return device.fd;
    }
    return real(path, flags, mode);
}

// The device side of one write of this many bytes.
void Play(long bytes)
{
    const double byteRate = static_cast<double>(device.rate * device.channels * device.bytesPerValue);
    const bool counting = device.blocks >= device.warmup;
    if (device.blocks == device.warmup) device.start = Now();
    device.blocks++;
    if (counting) device.bytes += bytes;
    if (!device.paced) return;

    const double now = Seconds(CLOCK_MONOTONIC);
    if (device.started) {
        const double drained = (now - device.last) * byteRate;
        if (drained > device.level && counting) device.late++;
        device.level = drained > device.level ? 0.0 : device.level - drained;
    }
    device.started = true;
    device.last = now;
    device.level += static_cast<double>(bytes);
    if (device.level > static_cast<double>(device.capacity)) {
        // Blocks until the rest fits, as a driver's write does.
        const double until = now + (device.level - static_cast<double>(device.capacity)) / byteRate;
        const timespec wake = {static_cast<time_t>(until),
                               static_cast<long>((until - static_cast<long>(until)) * 1e9)};
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &wake, nullptr) != 0) {
        }
        device.last = until;
        device.level = static_cast<double>(device.capacity);
    }
}

void Report()
{
    const long counted = device.blocks - device.warmup;
    FILE *file = std::fopen(Setting("KORVEL_SHIM_REPORT", "/dev/stderr"), "a");
    if (!file || counted <= 0) {
        if (file) std::fclose(file);
        return;
    }
    const Counts end = Now();
    std::fprintf(file, "blocks %ld late %ld wall %.4f cpu %.4f watched %.4f held %ld bytes %ld\n", counted,
                 device.late, end.wall - device.start.wall, end.cpu - device.start.cpu,
                 end.watched - device.start.watched, device.capacity, device.bytes);
    std::fclose(file);
}

} // namespace

extern "C" {

int open(const char *path, int flags, ...)
{
    va_list args;
    va_start(args, flags);
    mode_t mode = (flags & O_CREAT) ? static_cast<mode_t>(va_arg(args, int)) : 0;
    va_end(args);
    return OpenDevice(path, flags, mode, Real("open", realOpen));
}

int open64(const char *path, int flags, ...)
{
    va_list args;
    va_start(args, flags);
    mode_t mode = (flags & O_CREAT) ? static_cast<mode_t>(va_arg(args, int)) : 0;
    va_end(args);
    return OpenDevice(path, flags, mode, Real("open64", realOpen64));
}

int ioctl(int fd, unsigned long request, ...)
{
    va_list args;
    va_start(args, request);
    void *argument = va_arg(args, void *);
    va_end(args);
    if (fd != device.fd || fd < 0) return Real("ioctl", realIoctl)(fd, request, argument);
    const int value = argument ? *static_cast<int *>(argument) : 0;
    if (request == SNDCTL_DSP_SETFRAGMENT)
        device.capacity = (static_cast<long>(value) >> 16) << (value & 0xFFFF);
    if (request == SNDCTL_DSP_CHANNELS) device.channels = value;
    if (request == SNDCTL_DSP_STEREO) device.channels = value ? 2 : 1;
    if (request == SNDCTL_DSP_SETFMT) device.bytesPerValue = value == AFMT_S16_LE ? 2 : 1;
    if (request == SNDCTL_DSP_SPEED) device.rate = value;
    return 0;
}

ssize_t write(int fd, const void *data, size_t bytes)
{
    if (fd == device.fd && fd >= 0) {
        Play(static_cast<long>(bytes));
        return static_cast<ssize_t>(bytes);
    }
    return Real("write", realWrite)(fd, data, bytes);
}

int close(int fd)
{
    if (fd == device.fd && fd >= 0) {
        Report();
        device.fd = -1;
    }
    return Real("close", realClose)(fd);
}
}
