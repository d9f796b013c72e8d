#ifndef LIMITED_DISK_H
#define LIMITED_DISK_H

#include "TestSupport.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <dirent.h>
#include <functional>
#include <iostream>
#include <string>
#include <vector>

// What a piece of work did in a process with a limit on its files or memory.
struct LimitedRun
{
    int status = -1; // exit status; 0 when the work ran to its end
    std::string errors;
};

// Runs work in a child process under a resource limit (setrlimit). A write
// past a file-size limit just fails, as on a full disk: the signal it raises
// is ignored. The child leaves with _exit, touching nothing shared.
inline LimitedRun RunWithLimit(int resource, rlim_t limit, const std::function<void()> &work)
{
    TempDir scratch;
    const std::string errorsPath = scratch.File("stderr");
    std::cout.flush();
    std::cerr.flush();
    pid_t child = fork();
    if (child == 0) {
        int fd = open(errorsPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (fd < 0) _exit(90);
        dup2(fd, 2);
        close(fd);
        signal(SIGXFSZ, SIG_IGN);
        struct rlimit bound;
        bound.rlim_cur = bound.rlim_max = limit;
        if (setrlimit(resource, &bound) != 0) _exit(91);
        work();
        std::cerr.flush();
        std::fflush(stderr);
        _exit(0);
    }
    LimitedRun run;
    int raw = 0;
    if (child > 0 && waitpid(child, &raw, 0) == child && WIFEXITED(raw)) run.status = WEXITSTATUS(raw);
    run.errors = ReadFileBytes(errorsPath);
    return run;
}

// A child that can write at most limitBytes to any file: the disk is as good
// as full for it.
inline LimitedRun RunWithFileLimit(long limitBytes, const std::function<void()> &work)
{
    return RunWithLimit(RLIMIT_FSIZE, static_cast<rlim_t>(limitBytes), work);
}

// Names in a folder, so a test can see that no temporary file was left.
inline std::vector<std::string> FolderEntries(const std::string &dir)
{
    std::vector<std::string> names;
    if (DIR *listing = opendir(dir.c_str())) {
        while (dirent *entry = readdir(listing)) {
            std::string name = entry->d_name;
            if (name != "." && name != "..") names.push_back(name);
        }
        closedir(listing);
    }
    std::sort(names.begin(), names.end());
    return names;
}

#endif
