#include "extractor.h"

#include <unistd.h>

#include <cstdlib>
#include <string_view>

#include "log/ansi_text.h"

namespace {

constexpr const char* DISC_EXTRACTOR = "BIN/7za";

bool isExecutableFile(const std::filesystem::path& candidate) {
    std::error_code error;
    return std::filesystem::is_regular_file(candidate, error) && access(candidate.c_str(), X_OK) == 0;
}

// The first of 7zz, 7za and 7z on PATH, in that order of preference; "" when there is none.
std::string sevenZipOnPath() {
    const char* pathVariable = std::getenv("PATH");
    if (pathVariable == nullptr) return std::string();
    const std::string_view folders(pathVariable);
    for (const char* name : {"7zz", "7za", "7z"}) {
        size_t start = 0;
        for (;;) {
            size_t end = folders.find(':', start);
            std::string_view folder =
                folders.substr(start, end == std::string_view::npos ? end : end - start);
            // An empty PATH entry means the current directory.
            std::filesystem::path candidate =
                std::filesystem::path(folder.empty() ? "." : std::string(folder)) / name;
            if (isExecutableFile(candidate)) return candidate.native();
            if (end == std::string_view::npos) break;
            start = end + 1;
        }
    }
    return std::string();
}

}  // namespace

// The disc's own extractor when it carries one; else a 7-Zip installed on the machine. With
// neither, the disc's path stays, and running it reports the missing program.
std::wstring extractorProgram() {
    std::error_code error;
    if (std::filesystem::exists(DISC_EXTRACTOR, error)) return ansiToWide(DISC_EXTRACTOR);
    std::string installed = sevenZipOnPath();
    if (installed.empty()) return ansiToWide(DISC_EXTRACTOR);
    if (installed.find_first_of(" \t") != std::string::npos) installed = '"' + installed + '"';
    return ansiToWide(installed);
}

wchar_t commandSeparator() { return L'/'; }

std::wstring commandPathText(const std::filesystem::path& path) { return ansiToWide(path.native()); }
