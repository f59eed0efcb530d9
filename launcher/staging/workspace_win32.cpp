#include "workspace_platform.h"

// windows.h first: the other Windows headers build on its types.
#include <windows.h>

#include <ntsecapi.h>

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

uint64_t systemRandomNumber() {
    // RtlGenRandom (SystemFunction036 of advapi32): the system's generator, on every Windows
    // without the newer bcrypt library.
    uint64_t number = 0;
    if (!RtlGenRandom(&number, sizeof number))
        throw std::system_error(static_cast<int>(GetLastError()), std::system_category(), "RtlGenRandom");
    return number;
}
