#pragma once
// Helpers for the Win32 unit tests: the log written since a point, the status texts shown, a
// fresh folder under the temporary folder, and the folder of the test program (beside which
// fake_child.exe lies).

#include <windows.h>

#include <winioctl.h>

#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "common/front_end.h"
#include "log/log.h"

class LogMark {
public:
    LogMark() : start_(logText().size()) {}
    std::string since() const { return logText().substr(start_); }

private:
    size_t start_;
};

// Collects every status text shown while it is installed.
struct StatusCapture {
    static std::mutex& lock() {
        static std::mutex m;
        return m;
    }
    static std::vector<std::wstring>& texts() {
        static std::vector<std::wstring> t;
        return t;
    }
    static void record(const std::wstring& text) {
        std::lock_guard<std::mutex> guard(lock());
        texts().push_back(text);
    }
    static void install() {
        {
            std::lock_guard<std::mutex> guard(lock());
            texts().clear();
        }
        FrontEnd capture{};
        capture.setStatusText = record;
        installFrontEnd(capture);
    }
    static std::vector<std::wstring> snapshot() {
        std::lock_guard<std::mutex> guard(lock());
        return texts();
    }
};

inline std::filesystem::path testProgramFolder() {
    wchar_t buffer[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, buffer, MAX_PATH);
    return std::filesystem::path(buffer).parent_path();
}

// A new, empty folder below the temporary folder, removed again when the object goes.
class ScratchFolder {
public:
    explicit ScratchFolder(const std::wstring& name) {
        path_ = std::filesystem::temp_directory_path() /
                (L"lumidra-test-" + name + L"-" + std::to_wstring(GetCurrentProcessId()));
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
        std::filesystem::create_directories(path_);
    }
    ~ScratchFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

// Makes link a junction (a mount point reparse point) to the folder target. False where the file
// system or Wine cannot.
inline bool makeJunction(const std::filesystem::path& link, const std::filesystem::path& target) {
    std::filesystem::create_directories(link);
    HANDLE folder = CreateFileW(link.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (folder == INVALID_HANDLE_VALUE) return false;
    // The mount point layout: tag, sizes, the substitute name ("\\??\\" + the path), an empty
    // print name, each ended by a NUL.
    std::wstring substitute = L"\\??\\" + std::filesystem::absolute(target).native();
    const USHORT substituteBytes = static_cast<USHORT>(substitute.size() * sizeof(wchar_t));
    std::vector<BYTE> buffer(8 + 8 + substituteBytes + 2 * sizeof(wchar_t), 0);
    auto put16 = [&](size_t at, USHORT value) { std::memcpy(buffer.data() + at, &value, sizeof value); };
    const DWORD tag = IO_REPARSE_TAG_MOUNT_POINT;
    std::memcpy(buffer.data(), &tag, sizeof tag);
    put16(4, static_cast<USHORT>(buffer.size() - 8));                   // the data after the header
    put16(8, 0);                                                        // substitute name offset
    put16(10, substituteBytes);                                         // and length
    put16(12, static_cast<USHORT>(substituteBytes + sizeof(wchar_t)));  // print name offset
    put16(14, 0);                                                       // and length
    std::memcpy(buffer.data() + 16, substitute.data(), substituteBytes);
    DWORD returned = 0;
    BOOL made = DeviceIoControl(folder, FSCTL_SET_REPARSE_POINT, buffer.data(),
                                static_cast<DWORD>(buffer.size()), nullptr, 0, &returned, nullptr);
    CloseHandle(folder);
    return made != 0;
}
