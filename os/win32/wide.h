// UTF-8 and UTF-16 at the Windows system calls: the OS layer's text is UTF-8, the wide calls take UTF-16.
#pragma once
#include <windows.h>
#include <string>

namespace tev::os {

inline std::wstring widen(const std::string& s) {
    if (s.empty()) return std::wstring();
    int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), int(s.size()), nullptr, 0);
    std::wstring w(size_t(n > 0 ? n : 0), L'\0');
    if (n > 0) MultiByteToWideChar(CP_UTF8, 0, s.data(), int(s.size()), w.data(), n);
    return w;
}

inline std::string narrow(const wchar_t* w, size_t length) {
    if (length == 0) return std::string();
    int n = WideCharToMultiByte(CP_UTF8, 0, w, int(length), nullptr, 0, nullptr, nullptr);
    std::string s(size_t(n > 0 ? n : 0), '\0');
    if (n > 0) WideCharToMultiByte(CP_UTF8, 0, w, int(length), s.data(), n, nullptr, nullptr);
    return s;
}

}  // namespace tev::os
