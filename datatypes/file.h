// file!: a url! that names a file; its mold and its local (system) form.
#pragma once
#include <string>
#include "runtime/cell.h"

namespace tev {

// ------------------------------------------------------------------ local paths

enum class PathStyle { windows, posix };
// The style of the system the program runs on.
PathStyle local_path_style();
// The current directory as UTF-8, ending with the system's separator.
std::string file_os_current_dir();
// Appends the system form of a file name (a file! or string! from its index)
// to the string! out: in the Windows style /c/x becomes c:\x, /c becomes c:\,
// /server/share becomes \\server\share, and every "/" a "\". With full, a
// relative name is prefixed with current_dir (which ends with a separator).
void file_to_local_path_style(const Cell* file, Cell* out, bool full, PathStyle style,
                              const std::string& current_dir);
void file_to_local_path(const Cell* file, Cell* out, bool full);

// ------------------------------------------------------------------ I/O

// file!'s read, write, delete, query and rename work on the file system,
// which io/ (a higher layer) reaches; start-up fills these with its entries.
// Until then each of those actions raises not-done.
struct FileIoHooks {
    void (*read)(Cell* result, const Cell* file, const Cell* part, const Cell* seek, bool binary, bool lines) = nullptr;
    void (*write)(const Cell* file, const Cell* value, const Cell* part, const Cell* seek, bool append,
                  bool lines) = nullptr;
    bool (*delete_file)(const Cell* file) = nullptr;
    bool (*rename)(const Cell* from, const Cell* to) = nullptr;
    void (*query_modified)(Cell* result, const Cell* file) = nullptr;
};
extern FileIoHooks file_io_hooks;

}  // namespace tev
