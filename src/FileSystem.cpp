#include "FileSystem.h"

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

FileSystem *FileSystem::Current()
{
    static FileSystem system;
    return s_Current ? s_Current : &system;
}

void FileSystem::SetCurrent(FileSystem *fileSystem)
{
    s_Current = fileSystem;
}
