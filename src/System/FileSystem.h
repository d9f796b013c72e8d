#ifndef FILE_SYSTEM_H
#define FILE_SYSTEM_H

#include <string>

// The steps that make a saved workspace durable: renaming finished files into
// place and flushing a folder. The one place they are done, so tests can stand
// in and stop a save between any two of them.
class FileSystem
{
public:
    virtual ~FileSystem() = default;

    // rename(2); false with errno set when it failed.
    virtual bool Rename(const std::string &from, const std::string &to);
    // fsync(2) of the folder itself, so the names in it reach the disk.
    virtual bool SyncFolder(const std::string &folder);

    // Writes the whole text to path and onto the disk; false, with errno
    // set, when any of it failed.
    static bool WriteDurably(const std::string &path, const std::string &text);
    // The folder a path names a file in ("." for a bare name).
    static std::string FolderOf(const std::string &path);

    // The instance saving uses; tests may install their own.
    static FileSystem *Current();
    static void SetCurrent(FileSystem *fileSystem);

private:
    static FileSystem *s_Current;
};

#endif
