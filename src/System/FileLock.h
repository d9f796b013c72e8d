#ifndef FILE_LOCK_H
#define FILE_LOCK_H

#include <string>

// An advisory lock (flock) on a small file beside what it guards, so two
// instances of the program never write one workspace or bindings file at
// once. The lock file is removed on release; a lock taken on a file that
// was removed meanwhile is taken again on the new one.
class FileLock
{
public:
    FileLock() = default;
    ~FileLock();
    FileLock(const FileLock &) = delete;
    FileLock &operator=(const FileLock &) = delete;

    enum Result
    {
        Locked,
        Busy,       // another program kept it longer than the wait
        Unavailable // no lock file can be made there (errno says why)
    };
    // Locks path + ".lock", waiting at most waitMs for another holder.
    Result Acquire(const std::string &path, int waitMs);
    void Release();

    // How long a save or load waits for another program's save.
    static int WaitMs;

private:
    std::string m_Path;
    int m_Fd = -1;
};

#endif
