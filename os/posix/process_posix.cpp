// Processes on POSIX: the command line, environ, uname, and children through posix_spawn with pipes drained by poll.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include "os/os.h"

extern char** environ;

namespace tev::os {

// ------------------------------------------------------------------ the process itself

std::string command_line() {
    std::string text;
    FILE* f = std::fopen("/proc/self/cmdline", "rb");
    if (!f) return text;
    std::string arg;
    auto flush = [&] {
        if (!text.empty()) text.push_back(' ');
        bool quote = arg.empty() || arg.find_first_of(" \t\"") != std::string::npos;
        if (quote) text.push_back('"');
        text += arg;
        if (quote) text.push_back('"');
        arg.clear();
    };
    for (int c; (c = std::fgetc(f)) != EOF;) {
        if (c == 0) flush();
        else arg.push_back(char(c));
    }
    if (!arg.empty()) flush();
    std::fclose(f);
    return text;
}

std::vector<std::string> environment_entries() {
    std::vector<std::string> entries;
    for (char** e = environ; e && *e; ++e) entries.emplace_back(*e);
    return entries;
}

OsInfo os_info() {
    OsInfo info{"Unknown", "Unknown", 0, 0, 0, 0};
    utsname u{};
    if (uname(&u) != 0) return info;
    info.name = u.sysname;
    std::string machine = u.machine;
    if (machine == "x86_64") info.arch = "x86-64";
    else if (machine.size() == 4 && machine[0] == 'i' && machine.substr(2) == "86") info.arch = "x86-32";
    else if (machine == "aarch64" || machine == "arm64") info.arch = "ARM64";
    else if (machine.rfind("arm", 0) == 0) info.arch = "ARM";
    // The kernel release: major.minor.patch, the patch standing where Windows has its service pack.
    std::sscanf(u.release, "%d.%d.%d", &info.major, &info.minor, &info.service_pack);
    return info;
}

// ------------------------------------------------------------------ children

// Children started without waiting are reaped at the next call, so that they
// do not stay zombies for the life of the program.
static std::vector<pid_t> unwaited;

static void reap_unwaited() {
    for (size_t i = 0; i < unwaited.size();) {
        int status;
        pid_t r = waitpid(unwaited[i], &status, WNOHANG);
        if (r == 0) { ++i; continue; }
        unwaited[i] = unwaited.back();
        unwaited.pop_back();
    }
}

namespace {
// The descriptors of one run; whatever is still open is closed on the way out.
struct Fds {
    int child[3] = {-1, -1, -1};    // what the child gets as 0, 1 and 2
    int parent[3] = {-1, -1, -1};   // our ends of the pipes
    ~Fds() {
        for (int fd : child) if (fd >= 0) close(fd);
        for (int fd : parent) if (fd >= 0) close(fd);
    }
};
}  // namespace

static bool make_pipe(int fds[2]) { return pipe2(fds, O_CLOEXEC) == 0; }

// The child's end of one stream: a file, a pipe, the null device, or our own
// (-1 in child[] leaves the parent's descriptor to the child).
static bool prepare_stream(Fds& fds, int which, const Redirect& r) {
    if (which == 0) {
        if (r.kind == Redirect::file) {
            fds.child[0] = open(r.path.c_str(), O_RDONLY | O_CLOEXEC);
            return fds.child[0] >= 0;
        }
        if (r.kind == Redirect::bytes) {
            int p[2];
            if (!make_pipe(p)) return false;
            fds.child[0] = p[0];
            fds.parent[0] = p[1];
        }
        return true;
    }
    switch (r.kind) {
    case Redirect::file:
        fds.child[which] = open(r.path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
        return fds.child[which] >= 0;
    case Redirect::capture: {
        int p[2];
        if (!make_pipe(p)) return false;
        fds.child[which] = p[1];
        fds.parent[which] = p[0];
        return true;
    }
    default:
        fds.child[which] = open("/dev/null", O_WRONLY | O_CLOEXEC);
        return fds.child[which] >= 0;
    }
}

// Feeds the input and drains output and error together: a child that fills
// one pipe while we wait on another can never block the two of us.
static void pump(Fds& fds, ProcessRequest& req) {
    size_t sent = 0;
    const std::string& input = req.in.data;
    if (fds.parent[0] >= 0) {
        fcntl(fds.parent[0], F_SETFL, fcntl(fds.parent[0], F_GETFL) | O_NONBLOCK);
        if (input.empty()) {
            close(fds.parent[0]);
            fds.parent[0] = -1;
        }
    }
    std::string* sinks[3] = {nullptr, &req.out.data, &req.err.data};
    char buffer[65536];
    for (;;) {
        pollfd polls[3];
        int which[3];
        nfds_t n = 0;
        for (int k = 0; k < 3; ++k) {
            if (fds.parent[k] < 0) continue;
            polls[n] = pollfd{fds.parent[k], short(k == 0 ? POLLOUT : POLLIN), 0};
            which[n++] = k;
        }
        if (n == 0) return;
        if (poll(polls, n, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        for (nfds_t i = 0; i < n; ++i) {
            int k = which[i];
            if (!polls[i].revents) continue;
            if (k == 0) {
                ssize_t put = write(fds.parent[0], input.data() + sent, input.size() - sent);
                if (put > 0) sent += size_t(put);
                // A child that stops reading (closed its input) just gets no more.
                if ((put < 0 && errno != EAGAIN && errno != EINTR) || sent == input.size()) {
                    close(fds.parent[0]);
                    fds.parent[0] = -1;
                }
                continue;
            }
            ssize_t got = read(fds.parent[k], buffer, sizeof buffer);
            if (got > 0) {
                sinks[k]->append(buffer, size_t(got));
            } else if (got == 0 || (errno != EAGAIN && errno != EINTR)) {
                close(fds.parent[k]);
                fds.parent[k] = -1;
            }
        }
    }
}

int64_t run_process(ProcessRequest& req, bool* shell_used) {
    reap_unwaited();
    // Every command goes through the shell here: it is how a POSIX command
    // line is split into a program and its arguments.
    *shell_used = true;
    Fds fds;
    if (!prepare_stream(fds, 0, req.in) || !prepare_stream(fds, 1, req.out) || !prepare_stream(fds, 2, req.err))
        return -1;
    bool redirected = req.in.kind != Redirect::inherit || req.out.kind != Redirect::inherit ||
                      req.err.kind != Redirect::inherit;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    for (int k = 0; k < 3; ++k)
        if (fds.child[k] >= 0) posix_spawn_file_actions_adddup2(&actions, fds.child[k], k);
    // The child starts with default signal handling (we ignore SIGPIPE).
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF);
    char sh[] = "/bin/sh", dash_c[] = "-c";
    std::string command = req.command;
    char* argv[] = {sh, dash_c, command.data(), nullptr};
    pid_t pid;
    int rc = posix_spawn(&pid, "/bin/sh", &actions, &attr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (rc != 0) return -1;
    for (int& fd : fds.child) {
        if (fd >= 0) close(fd);
        fd = -1;
    }
    pump(fds, req);
    if (!req.wait && !redirected) {
        unwaited.push_back(pid);
        return pid;
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR) return -1;
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);  // as the shells report it
    return -1;
}

std::string process_text_to_utf8(const std::string& bytes, bool) { return bytes; }

}  // namespace tev::os
