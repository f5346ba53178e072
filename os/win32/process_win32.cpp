// Processes on Windows: the command line, the environment block, the version, and children through CreateProcessW with pipes drained by threads.
#include <windows.h>
#include <cwchar>
#include "os/os.h"
#include "os/win32/wide.h"

namespace tev::os {

// ------------------------------------------------------------------ the process itself

std::string command_line() {
    const wchar_t* w = GetCommandLineW();
    return w ? narrow(w, wcslen(w)) : std::string();
}

std::vector<std::string> environment_entries() {
    std::vector<std::string> entries;
    wchar_t* block = GetEnvironmentStringsW();
    if (!block) return entries;
    for (const wchar_t* p = block; *p; p += wcslen(p) + 1) entries.push_back(narrow(p, wcslen(p)));
    FreeEnvironmentStringsW(block);
    return entries;
}

OsInfo os_info() {
    OsInfo info{"Windows", "Unknown", 0, 0, 0, 0};
    // The version as the system knows it: GetVersionEx answers what the
    // program's manifest claims to support, not what it runs on.
    OSVERSIONINFOEXW v{};
    v.dwOSVersionInfoSize = sizeof v;
    using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOEXW*);
    auto rtl_get_version = reinterpret_cast<RtlGetVersionFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion")));
    if (!rtl_get_version || rtl_get_version(&v) != 0) {
        v.dwOSVersionInfoSize = sizeof v;
        if (!GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&v))) return info;
    }
    info.major = int(v.dwMajorVersion);
    info.minor = int(v.dwMinorVersion);
    info.service_pack = v.wServicePackMajor;
    info.build = int(v.dwBuildNumber);
    info.name = "Windows " + windows_version_name(info.major, info.minor, info.build, v.wProductType != VER_NT_WORKSTATION);
    if (v.szCSDVersion[0]) info.name += " " + narrow(v.szCSDVersion, wcslen(v.szCSDVersion));
    SYSTEM_INFO si{};
    GetNativeSystemInfo(&si);
    switch (si.wProcessorArchitecture) {
    case 0: info.arch = "x86-32"; break;
    case 5: info.arch = "ARM"; break;
    case 6: info.arch = "IA-64"; break;
    case 9: info.arch = "x86-64"; break;
    case 12: info.arch = "ARM64"; break;
    default: info.arch = "Unknown"; break;
    }
    return info;
}

// ------------------------------------------------------------------ children

namespace {
// Handles of one run; whatever is still open is closed on the way out.
struct Handles {
    HANDLE child[3] = {nullptr, nullptr, nullptr};    // what the child gets
    bool owned[3] = {false, false, false};            // ours to close (not the parent's own)
    HANDLE parent[3] = {nullptr, nullptr, nullptr};   // our ends of the pipes
    HANDLE null_device = INVALID_HANDLE_VALUE;
    ~Handles() {
        for (int k = 0; k < 3; ++k) {
            if (owned[k] && child[k]) CloseHandle(child[k]);
            if (parent[k]) CloseHandle(parent[k]);
        }
        if (null_device != INVALID_HANDLE_VALUE) CloseHandle(null_device);
    }
};

struct Pump {
    HANDLE pipe;
    std::string* data;
};
}  // namespace

static DWORD WINAPI drain_pipe(LPVOID p) {
    auto* pump = static_cast<Pump*>(p);
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(pump->pipe, buffer, sizeof buffer, &got, nullptr) && got > 0) pump->data->append(buffer, got);
    return 0;
}

static DWORD WINAPI feed_pipe(LPVOID p) {
    auto* pump = static_cast<Pump*>(p);
    file_write(reinterpret_cast<FileHandle>(pump->pipe), pump->data->data(), pump->data->size());
    // Closing our end is the child's end of input.
    CloseHandle(pump->pipe);
    pump->pipe = nullptr;
    return 0;
}

static SECURITY_ATTRIBUTES inheritable() {
    SECURITY_ATTRIBUTES sa{};
    sa.nLength = sizeof sa;
    sa.bInheritHandle = TRUE;
    return sa;
}

// A pipe whose child end is inheritable and whose parent end is not.
static bool make_pipe(HANDLE* child_end, HANDLE* parent_end, bool child_reads) {
    SECURITY_ATTRIBUTES sa = inheritable();
    HANDLE rd, wr;
    if (!CreatePipe(&rd, &wr, &sa, 0)) return false;
    *child_end = child_reads ? rd : wr;
    *parent_end = child_reads ? wr : rd;
    return SetHandleInformation(*parent_end, HANDLE_FLAG_INHERIT, 0) != 0;
}

static bool prepare_stream(Handles& hs, int k, const Redirect& r) {
    SECURITY_ATTRIBUTES sa = inheritable();
    static const DWORD std_ids[3] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
    switch (r.kind) {
    case Redirect::file: {
        HANDLE h = k == 0 ? CreateFileW(widen(r.path).c_str(), GENERIC_READ, FILE_SHARE_READ, &sa, OPEN_EXISTING,
                                        FILE_FLAG_SEQUENTIAL_SCAN, nullptr)
                          : CreateFileW(widen(r.path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa,
                                        OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) return false;
        hs.child[k] = h;
        hs.owned[k] = true;
        if (k > 0) {
            LARGE_INTEGER zero;
            zero.QuadPart = 0;
            SetFilePointerEx(h, zero, nullptr, FILE_END);  // appending
        }
        return true;
    }
    case Redirect::bytes:
    case Redirect::capture:
        hs.owned[k] = true;
        return make_pipe(&hs.child[k], &hs.parent[k], k == 0);
    default:
        if (k == 0) {
            hs.child[0] = GetStdHandle(std_ids[0]);
        } else {
            // No console of our own to share: unredirected output goes nowhere.
            if (hs.null_device == INVALID_HANDLE_VALUE)
                hs.null_device = CreateFileW(L"nul", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa,
                                             OPEN_EXISTING, 0, nullptr);
            hs.child[k] = hs.null_device;
        }
        return true;
    }
}

static bool start(std::wstring command_line, const Handles& hs, bool show, PROCESS_INFORMATION* pi) {
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = hs.child[0];
    si.hStdOutput = hs.child[1];
    si.hStdError = hs.child[2];
    if (!show) {
        si.dwFlags |= STARTF_USESHOWWINDOW;
        si.wShowWindow = SW_HIDE;
    }
    return CreateProcessW(nullptr, command_line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, pi) != 0;
}

int64_t run_process(ProcessRequest& req, bool* shell_used) {
    *shell_used = false;
    Handles hs;
    if (!prepare_stream(hs, 0, req.in) || !prepare_stream(hs, 1, req.out) || !prepare_stream(hs, 2, req.err))
        return -1;
    bool redirected = req.in.kind != Redirect::inherit || req.out.kind != Redirect::inherit ||
                      req.err.kind != Redirect::inherit;
    std::wstring command = widen(req.command);
    std::wstring through_shell = L"cmd /s /c \"" + command + L"\"";
    PROCESS_INFORMATION pi{};
    bool started;
    if (req.shell) {
        started = start(through_shell, hs, req.show, &pi);
        *shell_used = true;
    } else {
        started = start(command, hs, req.show, &pi);
        if (!started && GetLastError() == ERROR_FILE_NOT_FOUND) {
            started = start(through_shell, hs, req.show, &pi);
            *shell_used = true;
        }
    }
    if (!started) return -1;
    // The child holds its ends now; ours would keep the pipes from ending.
    for (int k = 0; k < 3; ++k) {
        if (hs.owned[k] && hs.child[k]) CloseHandle(hs.child[k]);
        hs.child[k] = nullptr;
    }
    // Input, output and error each on a thread of their own: a child filling
    // one pipe while we block on another cannot stall either side.
    Pump pumps[3] = {{hs.parent[0], &req.in.data}, {hs.parent[1], &req.out.data}, {hs.parent[2], &req.err.data}};
    HANDLE threads[3];
    DWORD thread_count = 0;
    for (int k = 0; k < 3; ++k) {
        if (!hs.parent[k]) continue;
        if (k == 0) hs.parent[0] = nullptr;  // the feeding thread closes it
        HANDLE t = CreateThread(nullptr, 128 * 1024, k == 0 ? feed_pipe : drain_pipe, &pumps[k], 0, nullptr);
        if (t) {
            threads[thread_count++] = t;
        } else if (k == 0) {
            feed_pipe(&pumps[0]);
        } else {
            drain_pipe(&pumps[k]);
        }
    }
    if (thread_count) WaitForMultipleObjects(thread_count, threads, TRUE, INFINITE);
    for (DWORD i = 0; i < thread_count; ++i) CloseHandle(threads[i]);
    int64_t result = int64_t(pi.dwProcessId);
    if (req.wait || redirected) {
        WaitForSingleObject(pi.hProcess, INFINITE);
        DWORD code = 0;
        result = GetExitCodeProcess(pi.hProcess, &code) ? int64_t(int32_t(code)) : -1;
    }
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return result;
}

std::string process_text_to_utf8(const std::string& bytes, bool shell_used) {
    // The shell writes in the ANSI code page; programs run directly are taken as UTF-8.
    if (!shell_used || bytes.empty()) return bytes;
    int n = MultiByteToWideChar(CP_ACP, 0, bytes.data(), int(bytes.size()), nullptr, 0);
    if (n <= 0) return bytes;
    std::wstring w(size_t(n), L'\0');
    MultiByteToWideChar(CP_ACP, 0, bytes.data(), int(bytes.size()), w.data(), n);
    return narrow(w.data(), w.size());
}

}  // namespace tev::os
