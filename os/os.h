// The operating-system layer: the only interface through which the runtime reaches the OS.
//
// os/win32 implements it with the Windows API (the product), os/posix with
// POSIX calls (the host build). Text crosses this interface as UTF-8; the
// Windows side converts to and from UTF-16 at the system call.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tev::os {

// ------------------------------------------------------------------ start-up

// Error mode, standard handles, the fault handlers (which call `on_fault` with
// a runtime error code and the faulting code address) and how fatal reports
// are shown. Called once, first thing.
using FaultHandler = void (*)(int code, uintptr_t address);
void platform_init(FaultHandler on_fault);

// The command line as UTF-8 arguments, program path first. On Windows it is
// read from the system (argv is in the ANSI code page there); elsewhere argv
// is taken as it is. Empty when the system cannot split the command line.
std::vector<std::string> command_line_args(int argc, char** argv);

// Runs fn(arg) on a thread whose stack holds at least `stack_bytes`, so that
// deep evaluation reaches the language's own stack-overflow error long before
// the machine stack ends, and returns its result. On Windows the main thread
// already has that reserve (linker option) and fn runs directly.
int run_with_big_stack(int (*fn)(void*), void* arg, size_t stack_bytes);

// ------------------------------------------------------------------ memory

// Committed read-write pages; never executable. nullptr when the system refuses.
void* virtual_alloc(size_t size);
bool virtual_free(void* address, size_t size);
// Address space only: no page is usable until committed (read-write, never
// executable); decommitted pages give their memory back and fault when touched.
// Addresses and sizes are multiples of the page size.
void* virtual_reserve(size_t size);
bool virtual_commit(void* address, size_t size);
bool virtual_decommit(void* address, size_t size);

// ------------------------------------------------------------------ system services

std::optional<std::string> current_dir();
bool set_current_dir(const std::string& path);
std::optional<std::string> get_env(const std::string& name);
// A null value removes the variable.
bool set_env(const std::string& name, const char* value);
void sleep_ms(uint32_t milliseconds);

// The wall clock: UTC seconds since 1970 with the fraction in 100 ns units,
// the resolution of the Windows clock.
struct WallClock {
    int64_t seconds;
    uint32_t ticks_100ns;
};
WallClock wall_clock();

// Today's calendar date in UTC or local time; zone_minutes is the local
// offset from UTC (east positive), 0 for UTC.
struct CalendarDate {
    int year, month, day;
    int zone_minutes;
};
CalendarDate calendar_date(bool utc);

// ------------------------------------------------------------------ output

// A character-cell console: what the escape-sequence interpreter needs.
// Coordinates are 0-based cells of the screen buffer.
struct ScreenInfo {
    int width, height;                 // of the screen buffer
    int cursor_x, cursor_y;
    uint16_t attributes;               // current text attributes
    int window_left, window_top, window_right, window_bottom;
    int max_width, max_height;         // largest window the console allows
};
class ConsoleScreen {
public:
    virtual ~ConsoleScreen() = default;
    virtual ScreenInfo info() = 0;
    virtual void set_cursor(int x, int y) = 0;
    virtual void set_attributes(uint16_t attributes) = 0;
    // `count` blanks in `attributes` from (x, y), running on to the next lines.
    virtual void fill(int x, int y, uint32_t count, uint16_t attributes) = 0;
    virtual void write(const char16_t* text, size_t length) = 0;
};

// The real Windows console behind standard output (text goes to it as UTF-16
// and the runtime interprets escape sequences), or nullptr when output is
// redirected. Always nullptr on POSIX: a terminal understands the escape
// sequences itself, so text goes out as UTF-8 bytes.
ConsoleScreen* real_console();
// Raw bytes to standard output / standard error; a missing handle (a GUI
// process started without one) swallows them. Errors are ignored.
void write_stdout(const void* bytes, size_t length);
void write_stderr(const void* bytes, size_t length);

// ------------------------------------------------------------------ fatal errors

// Shows a fatal report (UTF-8): a message box titled `title` on Windows, or
// standard error when TEV_REPORT_TO_STDERR=1 is set in the environment (tests
// under Wine must never block on a box); standard error on POSIX. Uses no
// heap, so it may be called after a machine fault.
void show_fatal_report(const char* title, const char* text);

// Ends the process: exit_process runs the C library's exit handling;
// exit_now ends at once (after a fault the heap and stack may be corrupt).
[[noreturn]] void exit_process(int code);
[[noreturn]] void exit_now(int code);

// One-time state of the process: the apartment for COM on Windows.
void sys_startup();

// Newline of the platform's text files and consoles.
#ifdef _WIN32
inline constexpr char NEWLINE[] = "\r\n";
#else
inline constexpr char NEWLINE[] = "\n";
#endif

// Separator of directories in the system's own paths; a backslash system also has drive letters.
#ifdef _WIN32
inline constexpr char DIR_SEPARATOR = '\\';
#else
inline constexpr char DIR_SEPARATOR = '/';
#endif

}  // namespace tev::os
