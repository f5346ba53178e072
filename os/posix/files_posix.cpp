// Files and directories on POSIX: descriptors with 64-bit offsets, opendir, stat.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include "os/os.h"

namespace tev::os {

FileHandle file_open(const std::string& path, int mode) {
    int flags = O_CLOEXEC;
    if (mode & FILE_READ) flags |= O_RDONLY;
    else flags |= O_WRONLY | O_CREAT | ((mode & (FILE_APPEND | FILE_KEEP)) ? 0 : O_TRUNC);
    int fd;
    do fd = open(path.c_str(), flags, 0666);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) return NO_FILE;
    // A directory opens for reading on POSIX; it is no file to read.
    struct stat st;
    if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        close(fd);
        return NO_FILE;
    }
    return FileHandle(fd);
}

int64_t file_size(FileHandle h) {
    struct stat st;
    if (fstat(int(h), &st) != 0) return -1;
    return S_ISREG(st.st_mode) ? int64_t(st.st_size) : 0;  // pipes and devices: measured by reading
}

int64_t file_read(FileHandle h, void* buffer, size_t n) {
    auto* p = static_cast<char*>(buffer);
    size_t done = 0;
    while (done < n) {
        // Linux moves at most about 2 GB per call.
        size_t chunk = std::min<size_t>(n - done, size_t(1) << 30);
        ssize_t got = read(int(h), p + done, chunk);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return -1;
        if (got == 0) break;
        done += size_t(got);
    }
    return int64_t(done);
}

bool file_write(FileHandle h, const void* bytes, size_t n) {
    auto* p = static_cast<const char*>(bytes);
    while (n > 0) {
        ssize_t put = write(int(h), p, std::min<size_t>(n, size_t(1) << 30));
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        p += put;
        n -= size_t(put);
    }
    return true;
}

bool file_seek(FileHandle h, int64_t position) { return lseek(int(h), off_t(position), SEEK_SET) >= 0; }
bool file_seek_end(FileHandle h) { return lseek(int(h), 0, SEEK_END) >= 0; }
void file_close(FileHandle h) { close(int(h)); }

PathKind path_kind(const std::string& path) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return PathKind::missing;
    return S_ISDIR(st.st_mode) ? PathKind::directory : PathKind::file;
}

bool make_dir(const std::string& path) { return mkdir(path.c_str(), 0777) == 0; }

bool delete_path(const std::string& path) {
    if (path_kind(path) == PathKind::directory) return rmdir(path.c_str()) == 0;
    return unlink(path.c_str()) == 0;
}

bool rename_path(const std::string& from, const std::string& to) { return std::rename(from.c_str(), to.c_str()) == 0; }

std::optional<FileTime> file_modified(const std::string& path) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return std::nullopt;
    // A trailing slash on a plain file fails stat already (ENOTDIR).
    tm t{};
    time_t when = st.st_mtime;
    if (!gmtime_r(&when, &t)) return std::nullopt;
    return FileTime{t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec};
}

// Byte order of the names, as string comparison gives it. The first eight
// bytes, big-endian and padded with zeros (no name holds one), settle almost
// every comparison without a call.
static void sort_by_name(std::vector<DirEntry>& entries) {
    struct Keyed {
        uint64_t prefix;
        DirEntry* entry;
    };
    std::vector<Keyed> keyed;
    keyed.reserve(entries.size());
    for (DirEntry& e : entries) {
        uint64_t prefix = 0;
        for (size_t i = 0; i < 8; ++i)
            prefix = prefix << 8 | (i < e.name.size() ? static_cast<unsigned char>(e.name[i]) : 0u);
        keyed.push_back(Keyed{prefix, &e});
    }
    std::sort(keyed.begin(), keyed.end(), [](const Keyed& a, const Keyed& b) {
        return a.prefix != b.prefix ? a.prefix < b.prefix : a.entry->name < b.entry->name;
    });
    std::vector<DirEntry> sorted;
    sorted.reserve(entries.size());
    for (const Keyed& k : keyed) sorted.push_back(std::move(*k.entry));
    entries.swap(sorted);
}

bool list_dir(const std::string& path, std::vector<DirEntry>* out) {
    DIR* dir = opendir(path.empty() ? "." : path.c_str());
    if (!dir) return false;
    std::string base = path;
    if (!base.empty() && base.back() != '/') base.push_back('/');
    while (dirent* e = readdir(dir)) {
        std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        bool is_dir = e->d_type == DT_DIR;
        if (e->d_type == DT_UNKNOWN || e->d_type == DT_LNK) is_dir = path_kind(base + name) == PathKind::directory;
        out->push_back(DirEntry{std::move(name), is_dir});
    }
    closedir(dir);
    sort_by_name(*out);
    return true;
}

std::vector<std::string> drive_letters() { return {}; }

}  // namespace tev::os
