#include "System/FileSystem.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

FileSystem *FileSystem::s_Current = nullptr;

bool FileSystem::Rename(const std::string &from, const std::string &to)
{
    return std::rename(from.c_str(), to.c_str()) == 0;
}

bool FileSystem::SyncFolder(const std::string &folder)
{
    int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY);
    if (fd < 0) return false;
    bool synced = fsync(fd) == 0;
    close(fd);
    return synced;
}

bool FileSystem::WriteDurably(const std::string &path, const std::string &text)
{
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    size_t done = 0;
    while (done < text.size()) {
        ssize_t written = write(fd, text.data() + done, text.size() - done);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) break;
        done += static_cast<size_t>(written);
    }
    bool ok = done == text.size() && fsync(fd) == 0;
    int savedErrno = errno;
    ok = close(fd) == 0 && ok;
    if (!ok && savedErrno) errno = savedErrno;
    return ok;
}

std::string FileSystem::FolderOf(const std::string &path)
{
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

FileSystem *FileSystem::Current()
{
    static FileSystem system;
    return s_Current ? s_Current : &system;
}

void FileSystem::SetCurrent(FileSystem *fileSystem)
{
    s_Current = fileSystem;
}
