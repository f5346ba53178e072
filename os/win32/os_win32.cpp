// The OS layer on Windows (the product, tev.exe): exception filter, UTF-16 system calls, the real console.
#include "os/os.h"
#include "os/win32/wide.h"
#include <windows.h>
#include <shellapi.h>
#include <objbase.h>
#include <objidl.h>
#include <gdiplus.h>
#include <cstring>
#include <cwchar>
#include <iterator>

namespace tev::os {

// ------------------------------------------------------------------ handles

static HANDLE std_output = nullptr;
static HANDLE std_error = nullptr;
static bool report_to_stderr = false;

// A GUI-subsystem process may have no standard handles at all.
static HANDLE usable(HANDLE h) { return (h == nullptr || h == INVALID_HANDLE_VALUE) ? nullptr : h; }

static void write_handle(HANDLE h, const void* bytes, size_t length) {
    if (!h) return;
    auto* p = static_cast<const char*>(bytes);
    while (length > 0) {
        DWORD chunk = length > 0x40000000u ? 0x40000000u : DWORD(length);
        DWORD written = 0;
        if (!WriteFile(h, p, chunk, &written, nullptr) || written == 0) return;
        p += written;
        length -= written;
    }
}

// ------------------------------------------------------------------ faults

static FaultHandler fault_handler = nullptr;

static int exception_code_to_runtime_error(DWORD code) {
    switch (code) {
    case EXCEPTION_ACCESS_VIOLATION: return 1;
    case EXCEPTION_DATATYPE_MISALIGNMENT: return 2;
    case EXCEPTION_BREAKPOINT: return 3;
    case EXCEPTION_SINGLE_STEP: return 4;
    case EXCEPTION_ARRAY_BOUNDS_EXCEEDED: return 5;
    case EXCEPTION_FLT_DENORMAL_OPERAND: return 6;
    case EXCEPTION_FLT_DIVIDE_BY_ZERO: return 7;
    case EXCEPTION_FLT_INEXACT_RESULT: return 8;
    case EXCEPTION_FLT_INVALID_OPERATION: return 9;
    case EXCEPTION_FLT_OVERFLOW: return 10;
    case EXCEPTION_FLT_STACK_CHECK: return 11;
    case EXCEPTION_FLT_UNDERFLOW: return 12;
    case EXCEPTION_INT_DIVIDE_BY_ZERO: return 13;
    case EXCEPTION_INT_OVERFLOW: return 14;
    case EXCEPTION_PRIV_INSTRUCTION: return 15;
    case EXCEPTION_IN_PAGE_ERROR: return 16;
    case EXCEPTION_ILLEGAL_INSTRUCTION: return 17;
    case EXCEPTION_NONCONTINUABLE_EXCEPTION: return 18;
    case EXCEPTION_STACK_OVERFLOW: return 19;
    case EXCEPTION_INVALID_DISPOSITION: return 20;
    case EXCEPTION_GUARD_PAGE: return 21;
    case EXCEPTION_INVALID_HANDLE: return 22;
    case 0xC000013A: return 0;  // console control exit: a silent, normal end
    default: return 99;
    }
}

static LONG WINAPI exception_filter(EXCEPTION_POINTERS* info) {
    const EXCEPTION_RECORD* rec = info->ExceptionRecord;
    int code = exception_code_to_runtime_error(rec->ExceptionCode);
    if (code == 0) exit_now(0);
    if (fault_handler)
        fault_handler(code, reinterpret_cast<uintptr_t>(rec->ExceptionAddress));
    exit_now(code);
}

void platform_init(FaultHandler on_fault) {
    fault_handler = on_fault;
    // Room for the filter to run after a stack overflow.
    ULONG guarantee = 64 * 1024;
    SetThreadStackGuarantee(&guarantee);
    SetUnhandledExceptionFilter(exception_filter);
    SetErrorMode(SEM_FAILCRITICALERRORS);
    std_output = usable(GetStdHandle(STD_OUTPUT_HANDLE));
    std_error = usable(GetStdHandle(STD_ERROR_HANDLE));
    char flag[4] = {};
    DWORD n = GetEnvironmentVariableA("TEV_REPORT_TO_STDERR", flag, sizeof flag);
    report_to_stderr = n == 1 && flag[0] == '1';
}

std::vector<std::string> command_line_args(int, char**) {
    std::vector<std::string> args;
    int count = 0;
    LPWSTR* wargs = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!wargs) return args;
    for (int i = 0; i < count; ++i) args.push_back(narrow(wargs[i], wcslen(wargs[i])));
    LocalFree(wargs);
    return args;
}

// The linker reserves 256 MB for the main thread (see CMakeLists.txt).
int run_with_big_stack(int (*fn)(void*), void* arg, size_t) { return fn(arg); }

// ------------------------------------------------------------------ memory

void* virtual_alloc(size_t size) {
    return VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
}

bool virtual_free(void* address, size_t) { return VirtualFree(address, 0, MEM_RELEASE) != 0; }

void* virtual_reserve(size_t size) { return VirtualAlloc(nullptr, size, MEM_RESERVE, PAGE_NOACCESS); }

bool virtual_commit(void* address, size_t size) {
    return VirtualAlloc(address, size, MEM_COMMIT, PAGE_READWRITE) != nullptr;
}

bool virtual_decommit(void* address, size_t size) { return VirtualFree(address, size, MEM_DECOMMIT) != 0; }

// ------------------------------------------------------------------ system services

std::optional<std::string> current_dir() {
    DWORD n = GetCurrentDirectoryW(0, nullptr);
    if (n == 0) return std::nullopt;
    std::wstring w(n, L'\0');
    DWORD len = GetCurrentDirectoryW(n, w.data());
    if (len == 0 || len >= n) return std::nullopt;
    return narrow(w.data(), len);
}

bool set_current_dir(const std::string& path) { return SetCurrentDirectoryW(widen(path).c_str()) != 0; }

std::optional<std::string> get_env(const std::string& name) {
    std::wstring wname = widen(name);
    DWORD n = GetEnvironmentVariableW(wname.c_str(), nullptr, 0);
    if (n == 0) {
        // 0 is both "absent" and "empty": only the error code tells them apart.
        if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
        return std::string();
    }
    std::wstring w(n, L'\0');
    DWORD len = GetEnvironmentVariableW(wname.c_str(), w.data(), n);
    if (len >= n) return std::nullopt;
    return narrow(w.data(), len);
}

bool set_env(const std::string& name, const char* value) {
    std::wstring wname = widen(name);
    if (!value) return SetEnvironmentVariableW(wname.c_str(), nullptr) != 0;
    return SetEnvironmentVariableW(wname.c_str(), widen(value).c_str()) != 0;
}

void sleep_ms(uint32_t milliseconds) { Sleep(milliseconds); }

WallClock wall_clock() {
    FILETIME ft{};
    GetSystemTimeAsFileTime(&ft);
    // 100 ns ticks since 1601-01-01; 11644473600 s separate that from 1970.
    uint64_t ticks = (uint64_t(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
    return WallClock{int64_t(ticks / 10000000u) - 11644473600LL, uint32_t(ticks % 10000000u)};
}

CalendarDate calendar_date(bool utc) {
    SYSTEMTIME st{};
    if (utc) {
        GetSystemTime(&st);
        return CalendarDate{st.wYear, st.wMonth, st.wDay, 0};
    }
    GetLocalTime(&st);
    TIME_ZONE_INFORMATION tz{};
    DWORD kind = GetTimeZoneInformation(&tz);
    LONG bias = tz.Bias;
    if (kind == TIME_ZONE_ID_DAYLIGHT) bias += tz.DaylightBias;
    else if (kind == TIME_ZONE_ID_STANDARD) bias += tz.StandardBias;
    if (kind == TIME_ZONE_ID_INVALID) bias = 0;
    return CalendarDate{st.wYear, st.wMonth, st.wDay, int(-bias)};
}

// ------------------------------------------------------------------ output

namespace {
class Win32Console final : public ConsoleScreen {
public:
    explicit Win32Console(HANDLE h) : h_(h) {}
    ScreenInfo info() override {
        CONSOLE_SCREEN_BUFFER_INFO i{};
        GetConsoleScreenBufferInfo(h_, &i);
        return ScreenInfo{i.dwSize.X, i.dwSize.Y, i.dwCursorPosition.X, i.dwCursorPosition.Y,
                          i.wAttributes, i.srWindow.Left, i.srWindow.Top, i.srWindow.Right,
                          i.srWindow.Bottom, i.dwMaximumWindowSize.X, i.dwMaximumWindowSize.Y};
    }
    void set_cursor(int x, int y) override { SetConsoleCursorPosition(h_, COORD{SHORT(x), SHORT(y)}); }
    void set_attributes(uint16_t a) override { SetConsoleTextAttribute(h_, a); }
    void fill(int x, int y, uint32_t count, uint16_t a) override {
        DWORD done = 0;
        FillConsoleOutputCharacterW(h_, L' ', count, COORD{SHORT(x), SHORT(y)}, &done);
        FillConsoleOutputAttribute(h_, a, count, COORD{SHORT(x), SHORT(y)}, &done);
    }
    void write(const char16_t* text, size_t length) override {
        DWORD done = 0;
        WriteConsoleW(h_, reinterpret_cast<const wchar_t*>(text), DWORD(length), &done, nullptr);
    }
private:
    HANDLE h_;
};
}  // namespace

ConsoleScreen* real_console() {
    static Win32Console* console = nullptr;
    static bool probed = false;
    if (!probed) {
        probed = true;
        DWORD mode = 0;
        if (std_output && GetConsoleMode(std_output, &mode)) console = new Win32Console(std_output);
    }
    return console;
}

void write_stdout(const void* bytes, size_t length) { write_handle(std_output, bytes, length); }
void write_stderr(const void* bytes, size_t length) { write_handle(std_error, bytes, length); }

// Fixed buffers: this runs after machine faults, when the heap may be corrupt.
static wchar_t report_wide[1024];
static wchar_t title_wide[64];

static DWORD WINAPI message_box_thread(LPVOID) {
    MessageBoxW(nullptr, report_wide, title_wide, MB_OK | MB_ICONERROR | MB_TASKMODAL);
    return 0;
}

void show_fatal_report(const char* title, const char* text) {
    if (report_to_stderr) {
        write_handle(std_error, text, std::strlen(text));
        write_handle(std_error, "\r\n", 2);
        return;
    }
    MultiByteToWideChar(CP_UTF8, 0, text, -1, report_wide, int(std::size(report_wide)) - 1);
    MultiByteToWideChar(CP_UTF8, 0, title, -1, title_wide, int(std::size(title_wide)) - 1);
    // The box gets a fresh thread: the faulting thread's stack may be used up.
    HANDLE t = CreateThread(nullptr, 256 * 1024, message_box_thread, nullptr, 0, nullptr);
    if (t) {
        WaitForSingleObject(t, INFINITE);
        CloseHandle(t);
    } else {
        message_box_thread(nullptr);
    }
}

void exit_process(int code) { std::exit(code); }
void exit_now(int code) {
    TerminateProcess(GetCurrentProcess(), UINT(code));
    ExitProcess(UINT(code));
}

// Kept for GdiplusShutdown; the process ends without it today.
static ULONG_PTR gdiplus_token = 0;

void sys_startup() {
    // GDI+ version 1, no debug callback, its background thread, no external codecs.
    Gdiplus::GdiplusStartupInput input;
    if (Gdiplus::GdiplusStartup(&gdiplus_token, &input, nullptr) != Gdiplus::Ok) gdiplus_token = 0;
    // A single-threaded apartment: the imaging component and the web request object rely on it.
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
}

}  // namespace tev::os

// ------------------------------------------------------------------ console input

namespace tev::os {

// A real console hands over UTF-16 through ReadConsoleW; a pipe or a file gives
// UTF-8 bytes as they are.
bool read_stdin_line(std::string* line, bool hide) {
    line->clear();
    HANDLE in = usable(GetStdHandle(STD_INPUT_HANDLE));
    if (!in) return false;
    DWORD mode = 0;
    bool console = GetConsoleMode(in, &mode) != 0;
    bool any = false;
    if (console) {
        if (hide) SetConsoleMode(in, mode & ~DWORD(ENABLE_ECHO_INPUT));
        std::wstring wide;
        wchar_t c;
        DWORD n = 0;
        while (ReadConsoleW(in, &c, 1, &n, nullptr) && n == 1) {
            any = true;
            if (c == L'\n') break;
            wide.push_back(c);
        }
        if (hide) {
            SetConsoleMode(in, mode);
            write_handle(std_output, "\r\n", 2);
        }
        *line = narrow(wide.data(), wide.size());
    } else {
        char c;
        DWORD n = 0;
        while (ReadFile(in, &c, 1, &n, nullptr) && n == 1) {
            any = true;
            if (c == '\n') break;
            line->push_back(c);
        }
    }
    if (!line->empty() && line->back() == '\r') line->pop_back();
    return any;
}

bool terminal_size(int* columns, int* rows) {
    CONSOLE_SCREEN_BUFFER_INFO i{};
    if (!std_output || !GetConsoleScreenBufferInfo(std_output, &i)) return false;
    *columns = i.srWindow.Right - i.srWindow.Left + 1;
    *rows = i.srWindow.Bottom - i.srWindow.Top + 1;
    return *columns > 0;
}

bool set_console_title(const std::string& utf8) { return SetConsoleTitleW(widen(utf8).c_str()) != 0; }

}  // namespace tev::os
