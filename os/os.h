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

// ------------------------------------------------------------------ files

// Paths here are the system's own (a Windows path has backslashes and drive
// letters), as UTF-8; the Windows side converts to UTF-16 at the call.
// Sizes and positions are 64-bit on both sides.
using FileHandle = intptr_t;
inline constexpr FileHandle NO_FILE = -1;
// Open modes: read, or write with append or keep (positioning into an existing
// file); a plain write creates or truncates.
enum FileMode : int { FILE_READ = 1, FILE_WRITE = 2, FILE_APPEND = 4, FILE_KEEP = 8 };
FileHandle file_open(const std::string& path, int mode);
int64_t file_size(FileHandle h);                              // -1 when unknown
// Reads until n bytes or the end; the count read, -1 when the system fails.
int64_t file_read(FileHandle h, void* buffer, size_t n);
// Writes all n bytes; false when the system fails or writes short.
bool file_write(FileHandle h, const void* bytes, size_t n);
bool file_seek(FileHandle h, int64_t position);              // from the start
bool file_seek_end(FileHandle h);
void file_close(FileHandle h);

enum class PathKind { missing, file, directory };
PathKind path_kind(const std::string& path);
bool make_dir(const std::string& path);
// A directory (which must be empty) or a file.
bool delete_path(const std::string& path);
bool rename_path(const std::string& from, const std::string& to);
// The last write time in UTC.
struct FileTime {
    int year, month, day, hour, minute, second;
};
std::optional<FileTime> file_modified(const std::string& path);
struct DirEntry {
    std::string name;
    bool is_dir;
};
// The entries of a directory without "." and "..", in the system's order
// (sorted by name on POSIX, whose order is the file system's hash order).
// False when the directory cannot be read.
bool list_dir(const std::string& path, std::vector<DirEntry>* out);
// The drive letters of a drive-letter system ("C", "D" ...); empty elsewhere.
std::vector<std::string> drive_letters();

// ------------------------------------------------------------------ process

// The command line the process was started with, as one text.
std::string command_line();
// The environment as NAME=VALUE entries, in the system's order.
std::vector<std::string> environment_entries();

struct OsInfo {
    std::string name;          // "Windows 10", "Linux" ...
    std::string arch;          // "x86-64", "x86-32", "ARM64" ...
    int major, minor, service_pack;
    int build;
};
OsInfo os_info();
// The version part of a Windows name ("XP", "10", "Server 2019" ...) from the
// version numbers, the build and whether the product is a server.
std::string windows_version_name(int major, int minor, int build, bool server);

// Where a child's standard stream comes from or goes to.
struct Redirect {
    enum Kind { inherit, bytes, file, capture } kind = inherit;
    std::string path;          // file: the system path (output files are appended to)
    std::string data;          // bytes: what the child reads; capture: what it wrote
};
struct ProcessRequest {
    std::string command;       // UTF-8
    bool wait = false, show = false, shell = false;
    Redirect in, out, err;     // out and err: inherit means the null device
};
// Starts the command (directly, or through the system shell with `shell` or
// when it is not found as a program) and feeds and drains its streams
// concurrently. Returns the exit code when waiting (forced by any
// redirection), else the process id; -1 when it cannot start. shell_used
// tells how captured text is encoded (see process_text_to_utf8).
int64_t run_process(ProcessRequest& request, bool* shell_used);
// Captured output as UTF-8: what came through the Windows shell is in the
// ANSI code page; everything else is taken as UTF-8.
std::string process_text_to_utf8(const std::string& bytes, bool shell_used);

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

// ------------------------------------------------------------------ console input

// One line of standard input as UTF-8, without its line end; with `hide` and
// a terminal behind standard input the typed text is not echoed. False at the
// end of input when nothing was read.
bool read_stdin_line(std::string* line, bool hide);
// The character size of the terminal behind standard output; false when
// standard output is no terminal.
bool terminal_size(int* columns, int* rows);
// The title of the text console, when the process has one. False when the
// system refuses; never ends the process.
bool set_console_title(const std::string& utf8);

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
