// The desktop's "open" action on Windows: ShellExecuteW with the "open" verb.
#include "os/shell_open.h"
#include <windows.h>
#include <shellapi.h>

namespace tev::os {

bool shell_open(const std::string& target) {
    int n = MultiByteToWideChar(CP_UTF8, 0, target.c_str(), -1, nullptr, 0);
    if (n <= 0) return false;
    std::wstring wide(size_t(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, target.c_str(), -1, wide.data(), n);
    // Values above 32 mean success; the result is an integer in a handle's clothing.
    HINSTANCE r = ShellExecuteW(nullptr, L"open", wide.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
    return reinterpret_cast<INT_PTR>(r) > 32;
}

}  // namespace tev::os
