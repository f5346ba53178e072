// The desktop's "open" action on POSIX systems: xdg-open, started in the background.
#include "os/shell_open.h"
#include <cerrno>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace tev::os {

bool shell_open(const std::string& target) {
    // The shell puts the opener in the background and ends at once, so no
    // child is left for this process to reap; the target travels as "$1",
    // never as shell text.
    const char* argv[] = {"sh", "-c", "xdg-open \"$1\" >/dev/null 2>&1 &", "sh", target.c_str(), nullptr};
    pid_t pid;
    if (posix_spawn(&pid, "/bin/sh", nullptr, nullptr, const_cast<char**>(argv), environ) != 0) return false;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR) return false;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace tev::os
