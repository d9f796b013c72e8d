#ifndef RUN_TOGETHER_H
#define RUN_TOGETHER_H

#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <vector>

// Runs work(0) ... work(count - 1) in child processes released at the same
// moment, as instances of the program would run; true when every one
// returned true.
inline bool RunTogether(int count, const std::function<bool(int)> &work)
{
    int go[2];
    if (pipe(go) != 0) return false;
    std::vector<pid_t> children;
    for (int i = 0; i < count; i++) {
        pid_t child = fork();
        if (child == 0) {
            char start;
            _exit(read(go[0], &start, 1) == 1 && work(i) ? 0 : 1);
        }
        children.push_back(child);
    }
    bool all = write(go[1], std::vector<char>(static_cast<size_t>(count)).data(),
                     static_cast<size_t>(count)) == count;
    close(go[0]);
    close(go[1]);
    for (pid_t child : children) {
        int status = -1;
        all = waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0 && all;
    }
    return all;
}

#endif
