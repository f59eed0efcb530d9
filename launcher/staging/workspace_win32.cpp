#include "workspace_platform.h"

// windows.h first: the other Windows headers build on its types.
#include <windows.h>

#include <shellapi.h>

#include <string>
#include <system_error>

namespace fs = std::filesystem;

fs::path temporaryFolder() {
    wchar_t buffer[MAX_PATH + 1] = {};
    DWORD length = GetTempPathW(MAX_PATH + 1, buffer);
    if (length == 0 || length > MAX_PATH) {
        throw fs::filesystem_error("GetTempPathW",
                                   std::error_code(static_cast<int>(GetLastError()), std::system_category()));
    }
    fs::path folder(std::wstring(buffer, length));
    if (!fs::is_directory(folder)) {
        throw fs::filesystem_error("temporary folder", folder,
                                   std::make_error_code(std::errc::not_a_directory));
    }
    return folder;
}

void deleteFolderTree(const fs::path& folder) noexcept {
    try {
        if (folder.empty()) return;
        // The shell takes a list of names, each ended by a NUL, the list by one more.
        std::wstring from = folder.native();
        from.push_back(L'\0');
        SHFILEOPSTRUCTW operation{};
        operation.wFunc = FO_DELETE;
        operation.pFrom = from.c_str();
        operation.fFlags = FOF_NO_UI;
        SHFileOperationW(&operation);
    } catch (...) {
        // Out of memory while forming the list: leave the folder in place.
    }
}

bool deleteAtRestart(const fs::path& path) noexcept {
    return MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) != 0;
}
