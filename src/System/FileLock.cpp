#include "System/FileLock.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

int FileLock::WaitMs = 5000;

FileLock::~FileLock()
{
    Release();
}

FileLock::Result FileLock::Acquire(const std::string &path, int waitMs)
{
    Release();
    const std::string lockPath = path + ".lock";
    const int stepMs = 10;
    for (int waited = 0;;) {
        int fd = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0666);
        if (fd < 0) return Unavailable;
        if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
            struct stat held = {}, named = {};
            if (fstat(fd, &held) != 0 || !S_ISREG(held.st_mode)) {
                // Not a lock file of ours (a FIFO, a device): never removed.
                close(fd);
                errno = EEXIST;
                return Unavailable;
            }
            // The holder before removed the file while this one waited on it:
            // the lock that counts is on the file now at the name.
            if (stat(lockPath.c_str(), &named) == 0 && held.st_ino == named.st_ino &&
                held.st_dev == named.st_dev) {
                m_Fd = fd;
                m_Path = lockPath;
                return Locked;
            }
            close(fd);
            continue;
        }
        const int error = errno;
        close(fd);
        if (error != EWOULDBLOCK) {
            errno = error;
            return Unavailable;
        }
        if (waited >= waitMs) return Busy;
        usleep(stepMs * 1000);
        waited += stepMs;
    }
}

void FileLock::Release()
{
    if (m_Fd < 0) return;
    // Removed while still held, so nobody locks a file about to go.
    unlink(m_Path.c_str());
    close(m_Fd);
    m_Fd = -1;
}
