#include "server_root.h"

#include <windows.h>

#include "log/log.h"

namespace {

// Nothing when a character has no exact counterpart in the ANSI code page (a "best fit" such as an
// unaccented letter would name another file).
std::optional<std::string> exactAnsi(const std::wstring& wide) {
    if (wide.empty()) return std::string();
    const int size = static_cast<int>(wide.size());
    // The UTF-8 code page holds everything, and takes neither of the checks below.
    const bool utf8 = GetACP() == CP_UTF8;
    const DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
    BOOL lost = FALSE;
    BOOL* lostCheck = utf8 ? nullptr : &lost;
    int needed = WideCharToMultiByte(CP_ACP, flags, wide.c_str(), size, nullptr, 0, nullptr, lostCheck);
    if (needed <= 0 || lost) return std::nullopt;
    std::string narrow(static_cast<size_t>(needed), '\0');
    if (WideCharToMultiByte(CP_ACP, flags, wide.c_str(), size, narrow.data(), needed, nullptr, lostCheck) !=
            needed ||
        lost)
        return std::nullopt;
    return narrow;
}

std::wstring shortForm(const std::filesystem::path& folder) {
    DWORD needed = GetShortPathNameW(folder.c_str(), nullptr, 0);
    if (needed == 0) return std::wstring();
    std::wstring buffer(needed, L'\0');
    DWORD length = GetShortPathNameW(folder.c_str(), buffer.data(), needed);
    if (length == 0 || length >= needed) return std::wstring();
    buffer.resize(length);
    return buffer;
}

}  // namespace

std::optional<std::string> narrowFolderPath(const std::filesystem::path& folder) {
    if (std::optional<std::string> whole = exactAnsi(folder.native())) return whole;
    // A volume without short names gives back the long form, which fails the check again.
    std::wstring shortName = shortForm(folder);
    if (shortName.empty()) return std::nullopt;
    std::optional<std::string> narrow = exactAnsi(shortName);
    if (narrow) logInfo("Lumiserv serves a folder by its short name: " + *narrow);
    return narrow;
}
