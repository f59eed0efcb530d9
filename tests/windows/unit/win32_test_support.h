#pragma once
// Helpers for the Win32 unit tests: the log written since a point, the status texts shown, a
// fresh folder under the temporary folder, and the folder of the test program (beside which
// fake_child.exe lies).

#include <windows.h>

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
