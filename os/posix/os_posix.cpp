// The OS layer on POSIX (the host build): signals for machine faults, a big-stack thread, plain syscalls.
#include "os/os.h"
#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <termios.h>
#include <time.h>
#include <ucontext.h>
#include <unistd.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace tev::os {

// ------------------------------------------------------------------ faults

static FaultHandler fault_handler = nullptr;

// The stack of the thread that runs the interpreter, for telling a stack
// overflow from other bad accesses.
static thread_local uintptr_t thread_stack_low = 0;
static thread_local uintptr_t thread_stack_high = 0;

static void note_thread_stack() {
    pthread_attr_t attr;
    if (pthread_getattr_np(pthread_self(), &attr) != 0) return;
    void* base = nullptr;
    size_t size = 0;
    if (pthread_attr_getstack(&attr, &base, &size) == 0) {
        thread_stack_low = reinterpret_cast<uintptr_t>(base);
        thread_stack_high = thread_stack_low + size;
    }
    pthread_attr_destroy(&attr);
}

// Signal handlers run on this stack: the faulting one may be exhausted.
static void give_thread_signal_stack() {
    constexpr size_t size = 64 * 1024;
    void* mem = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mem == MAP_FAILED) return;
    stack_t ss{};
    ss.ss_sp = mem;
    ss.ss_size = size;
    sigaltstack(&ss, nullptr);
}

static uintptr_t fault_code_address(void* context) {
    auto* uc = static_cast<ucontext_t*>(context);
#if defined(__x86_64__)
    return uintptr_t(uc->uc_mcontext.gregs[REG_RIP]);
#elif defined(__i386__)
    return uintptr_t(uc->uc_mcontext.gregs[REG_EIP]);
#else
    (void)uc;
    return 0;
#endif
}

// The same runtime error codes as the Windows exception table, so that both
// builds report a fault alike.
static int fault_code(int sig, const siginfo_t* info) {
    switch (sig) {
    case SIGSEGV: {
        uintptr_t at = reinterpret_cast<uintptr_t>(info->si_addr);
        // Within a few pages below the stack: the guard page was hit.
        if (thread_stack_low && at < thread_stack_high && at + 256 * 1024 >= thread_stack_low)
            return 19;  // stack error or overflow
        return 1;       // access violation
    }
    case SIGBUS: return info->si_code == BUS_ADRALN ? 2 : 34;
    case SIGILL: return info->si_code == ILL_PRVOPC ? 15 : 17;
    case SIGTRAP: return 3;
    case SIGFPE:
        switch (info->si_code) {
        case FPE_INTDIV: return 13;
        case FPE_INTOVF: return 14;
        case FPE_FLTDIV: return 7;
        case FPE_FLTOVF: return 10;
        case FPE_FLTUND: return 12;
        case FPE_FLTRES: return 8;
        case FPE_FLTINV: return 9;
        case FPE_FLTSUB: return 5;
        default: return 33;
        }
    default: return 99;
    }
}

static void on_signal(int sig, siginfo_t* info, void* context) {
    if (fault_handler) fault_handler(fault_code(sig, info), fault_code_address(context));
    _exit(99);
}

static void install_fault_handlers() {
    give_thread_signal_stack();
    note_thread_stack();
    struct sigaction sa {};
    sa.sa_sigaction = on_signal;
    sa.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_NODEFER | SA_RESETHAND;
    sigemptyset(&sa.sa_mask);
    for (int sig : {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGTRAP}) sigaction(sig, &sa, nullptr);
}

void platform_init(FaultHandler on_fault) {
    fault_handler = on_fault;
    install_fault_handlers();
    // A closed reader must not kill the process: writes just fail.
    signal(SIGPIPE, SIG_IGN);
}

std::vector<std::string> command_line_args(int argc, char** argv) {
    std::vector<std::string> args;
    for (int i = 0; i < argc; ++i) args.emplace_back(argv[i] ? argv[i] : "");
    return args;
}

// ------------------------------------------------------------------ big stack

namespace {
struct ThreadJob {
    int (*fn)(void*);
    void* arg;
    int result;
};
}  // namespace

static void* thread_main(void* p) {
    auto* job = static_cast<ThreadJob*>(p);
    give_thread_signal_stack();
    note_thread_stack();
    job->result = job->fn(job->arg);
    return nullptr;
}

int run_with_big_stack(int (*fn)(void*), void* arg, size_t stack_bytes) {
    ThreadJob job{fn, arg, 0};
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_t thread;
    bool started = pthread_attr_setstacksize(&attr, stack_bytes) == 0 &&
                   pthread_create(&thread, &attr, thread_main, &job) == 0;
    pthread_attr_destroy(&attr);
    if (!started) return fn(arg);  // run with what the main thread has
    pthread_join(thread, nullptr);
    return job.result;
}

// ------------------------------------------------------------------ memory

void* virtual_alloc(size_t size) {
    void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return p == MAP_FAILED ? nullptr : p;
}

bool virtual_free(void* address, size_t size) { return munmap(address, size) == 0; }

void* virtual_reserve(size_t size) {
    void* p = mmap(nullptr, size, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    return p == MAP_FAILED ? nullptr : p;
}

bool virtual_commit(void* address, size_t size) { return mprotect(address, size, PROT_READ | PROT_WRITE) == 0; }

bool virtual_decommit(void* address, size_t size) {
    // A fresh inaccessible mapping in place drops the pages.
    return mmap(address, size, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_FIXED, -1, 0) == address;
}

// ------------------------------------------------------------------ system services

std::optional<std::string> current_dir() {
    std::string buf(256, '\0');
    for (;;) {
        if (getcwd(buf.data(), buf.size())) {
            buf.resize(std::strlen(buf.c_str()));
            return buf;
        }
        if (errno != ERANGE || buf.size() > (1u << 20)) return std::nullopt;
        buf.resize(buf.size() * 2);
    }
}

bool set_current_dir(const std::string& path) { return chdir(path.c_str()) == 0; }

std::optional<std::string> get_env(const std::string& name) {
    const char* v = std::getenv(name.c_str());
    if (!v) return std::nullopt;
    return std::string(v);
}

bool set_env(const std::string& name, const char* value) {
    return (value ? setenv(name.c_str(), value, 1) : unsetenv(name.c_str())) == 0;
}

void sleep_ms(uint32_t milliseconds) {
    timespec ts{time_t(milliseconds / 1000), long(milliseconds % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {}
}

WallClock wall_clock() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return WallClock{int64_t(ts.tv_sec), uint32_t(ts.tv_nsec / 100)};
}

CalendarDate calendar_date(bool utc) {
    time_t now = time(nullptr);
    tm t{};
    if (utc) gmtime_r(&now, &t);
    else localtime_r(&now, &t);
    return CalendarDate{t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, utc ? 0 : int(t.tm_gmtoff / 60)};
}

// ------------------------------------------------------------------ output

ConsoleScreen* real_console() { return nullptr; }

static void write_all(int fd, const void* bytes, size_t length) {
    auto* p = static_cast<const char*>(bytes);
    while (length > 0) {
        ssize_t n = write(fd, p, length);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        p += n;
        length -= size_t(n);
    }
}

void write_stdout(const void* bytes, size_t length) { write_all(1, bytes, length); }
void write_stderr(const void* bytes, size_t length) { write_all(2, bytes, length); }

void show_fatal_report(const char*, const char* text) {
    write_all(2, text, std::strlen(text));
    write_all(2, "\n", 1);
}

void exit_process(int code) { std::exit(code); }
void exit_now(int code) { _exit(code); }

void sys_startup() {}

}  // namespace tev::os

// ------------------------------------------------------------------ console input

namespace tev::os {

bool read_stdin_line(std::string* line, bool hide) {
    line->clear();
    termios saved{};
    bool quiet = hide && isatty(0) && tcgetattr(0, &saved) == 0;
    if (quiet) {
        termios silent = saved;
        silent.c_lflag &= ~tcflag_t(ECHO);
        tcsetattr(0, TCSANOW, &silent);
    }
    bool any = false;
    char c;
    for (;;) {
        ssize_t n = read(0, &c, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        any = true;
        if (c == '\n') break;
        line->push_back(c);
    }
    if (quiet) {
        tcsetattr(0, TCSANOW, &saved);
        write_all(1, "\n", 1);  // the Enter that ended the line was not echoed either
    }
    if (!line->empty() && line->back() == '\r') line->pop_back();
    return any;
}

bool terminal_size(int* columns, int* rows) {
    winsize ws{};
    if (!isatty(1) || ioctl(1, TIOCGWINSZ, &ws) != 0 || ws.ws_col == 0) return false;
    *columns = ws.ws_col;
    *rows = ws.ws_row;
    return true;
}

// A terminal's title belongs to the user's emulator: the host leaves it alone.
bool set_console_title(const std::string&) { return true; }

}  // namespace tev::os
