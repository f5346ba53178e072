// Files and directories on Windows: KERNEL32 handles with 64-bit sizes and positions, the wide-character calls.
#include <windows.h>
#include <algorithm>
#include "os/os.h"
#include "os/win32/wide.h"

namespace tev::os {

static HANDLE handle_of(FileHandle h) { return reinterpret_cast<HANDLE>(h); }

FileHandle file_open(const std::string& path, int mode) {
    bool read = (mode & FILE_READ) != 0;
    DWORD disposition = read ? OPEN_EXISTING : (mode & (FILE_APPEND | FILE_KEEP)) ? OPEN_ALWAYS : CREATE_ALWAYS;
    HANDLE h = CreateFileW(widen(path).c_str(), read ? GENERIC_READ : GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return NO_FILE;
    return reinterpret_cast<FileHandle>(h);
}

int64_t file_size(FileHandle h) {
    // Pipes and character devices have no size: they are measured by reading.
    if (GetFileType(handle_of(h)) != FILE_TYPE_DISK) return 0;
    LARGE_INTEGER size;
    if (!GetFileSizeEx(handle_of(h), &size)) return -1;
    return size.QuadPart;
}

int64_t file_read(FileHandle h, void* buffer, size_t n) {
    auto* p = static_cast<char*>(buffer);
    size_t done = 0;
    while (done < n) {
        DWORD chunk = DWORD(std::min<size_t>(n - done, 0x40000000u));
        DWORD got = 0;
        if (!ReadFile(handle_of(h), p + done, chunk, &got, nullptr)) {
            if (GetLastError() == ERROR_BROKEN_PIPE) break;  // the writer has gone: the end
            return -1;
        }
        if (got == 0) break;
        done += got;
    }
    return int64_t(done);
}

bool file_write(FileHandle h, const void* bytes, size_t n) {
    auto* p = static_cast<const char*>(bytes);
    while (n > 0) {
        DWORD chunk = DWORD(std::min<size_t>(n, 0x40000000u));
        DWORD put = 0;
        if (!WriteFile(handle_of(h), p, chunk, &put, nullptr) || put == 0) return false;
        p += put;
        n -= put;
    }
    return true;
}

bool file_seek(FileHandle h, int64_t position) {
    LARGE_INTEGER to;
    to.QuadPart = position;
    return SetFilePointerEx(handle_of(h), to, nullptr, FILE_BEGIN) != 0;
}

bool file_seek_end(FileHandle h) {
    LARGE_INTEGER zero;
    zero.QuadPart = 0;
    return SetFilePointerEx(handle_of(h), zero, nullptr, FILE_END) != 0;
}

void file_close(FileHandle h) { CloseHandle(handle_of(h)); }

PathKind path_kind(const std::string& path) {
    DWORD a = GetFileAttributesW(widen(path).c_str());
    if (a == INVALID_FILE_ATTRIBUTES) return PathKind::missing;
    return (a & FILE_ATTRIBUTE_DIRECTORY) ? PathKind::directory : PathKind::file;
}

bool make_dir(const std::string& path) { return CreateDirectoryW(widen(path).c_str(), nullptr) != 0; }

bool delete_path(const std::string& path) {
    std::wstring w = widen(path);
    if (path_kind(path) == PathKind::directory) return RemoveDirectoryW(w.c_str()) != 0;
    return DeleteFileW(w.c_str()) != 0;
}

bool rename_path(const std::string& from, const std::string& to) {
    return MoveFileW(widen(from).c_str(), widen(to).c_str()) != 0;
}

std::optional<FileTime> file_modified(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(widen(path).c_str(), GetFileExInfoStandard, &data)) return std::nullopt;
    SYSTEMTIME st;
    if (!FileTimeToSystemTime(&data.ftLastWriteTime, &st)) return std::nullopt;
    return FileTime{st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond};
}

bool list_dir(const std::string& path, std::vector<DirEntry>* out) {
    std::wstring pattern = widen(path);
    if (!pattern.empty() && pattern.back() != L'\\' && pattern.back() != L'/') pattern.push_back(L'\\');
    pattern.push_back(L'*');
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW(pattern.c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) return false;
    do {
        const wchar_t* name = found.cFileName;
        if (name[0] == L'.' && (name[1] == 0 || (name[1] == L'.' && name[2] == 0))) continue;
        out->push_back(DirEntry{narrow(name, wcslen(name)), (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0});
    } while (FindNextFileW(find, &found));
    FindClose(find);
    return true;
}

std::vector<std::string> drive_letters() {
    std::vector<std::string> drives;
    DWORD n = GetLogicalDriveStringsW(0, nullptr);
    if (n == 0) return drives;
    std::wstring all(n, L'\0');
    DWORD len = GetLogicalDriveStringsW(n, all.data());
    if (len == 0 || len > n) return drives;
    // Entries such as "C:\" one after the other, each ended by a NUL.
    for (const wchar_t* p = all.c_str(); *p; p += wcslen(p) + 1) drives.push_back(narrow(p, 1));
    return drives;
}

}  // namespace tev::os
