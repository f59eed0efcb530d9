#include "ansi_text.h"

#include <windows.h>

std::wstring ansiToWide(const std::string& text) {
    // The terminating NUL takes part in the conversion, so the result ends at the first NUL.
    int needed = MultiByteToWideChar(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()) + 1, nullptr, 0);
    if (needed <= 0) return std::wstring();
    std::wstring wide(static_cast<size_t>(needed), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()) + 1, wide.data(), needed);
    wide.resize(wcslen(wide.c_str()));
    return wide;
}

std::string wideToAnsi(const std::wstring& text) {
    int needed = WideCharToMultiByte(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()) + 1, nullptr, 0,
                                     nullptr, nullptr);
    if (needed <= 0) return std::string();
    std::string narrow(static_cast<size_t>(needed), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()) + 1, narrow.data(), needed,
                        nullptr, nullptr);
    narrow.resize(strlen(narrow.c_str()));
    return narrow;
}

std::string pathToAnsi(const std::filesystem::path& path) { return wideToAnsi(path.native()); }
