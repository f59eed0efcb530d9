#pragma once
// What the unpack tests observe: the log lines a call added, the status texts the front end
// was asked to show, and small shell scripts that stand in for the extractor.

#include <sys/stat.h>

#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "common/front_end.h"
#include "log/log.h"
#include "test_disc.h"

namespace unpack_test {

// "LEVEL: message" for each log line added after offset (the timestamp is cut off).
inline std::vector<std::string> logLinesSince(size_t offset) {
    const std::string text = logText().substr(offset);
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        // "YYYY-MM-DD HH:MM:SS.mmm " comes first.
        lines.push_back(line.size() > 24 ? line.substr(24) : line);
        start = end + 1;
    }
    return lines;
}

inline size_t countLines(const std::vector<std::string>& lines, const std::string& prefix) {
    size_t count = 0;
    for (const std::string& line : lines)
        if (line.compare(0, prefix.size(), prefix) == 0) ++count;
    return count;
}

inline std::mutex statusLock;
inline std::vector<std::wstring> statusTexts;

inline void recordStatus(const std::wstring& text) {
    std::lock_guard<std::mutex> guard(statusLock);
    statusTexts.push_back(text);
}

inline void recordStatusTexts() {
    std::lock_guard<std::mutex> guard(statusLock);
    statusTexts.clear();
    installFrontEnd(FrontEnd{recordStatus, nullptr, nullptr});
}

inline std::vector<std::wstring> shownStatusTexts() {
    std::lock_guard<std::mutex> guard(statusLock);
    return statusTexts;
}

inline void writeScript(const std::filesystem::path& file, const std::string& body) {
    writeFileBytes(file, "#!/bin/sh\n" + body);
    chmod(file.c_str(), 0755);
}

}  // namespace unpack_test
