#include "log_export.h"

#include <fstream>

#include "log/log.h"

std::string defaultLogFileName() {
    std::string name = "LumidraLog-" + formatTimestamp(false) + ".log";
    for (char& c : name)
        if (c == ':') c = '-';
    for (char& c : name)
        if (c == ' ') c = '-';
    return name;
}

std::string logFileContent(const std::string& log) {
    std::string content;
    content.reserve(log.size() + log.size() / 32);
    for (char c : log) {
        if (c == '\n') content += '\r';
        content += c;
    }
    return content;
}

LogWriteResult writeLogFile(const std::filesystem::path& path, const std::string& log) {
    // The bytes are written as they are (UTF-8 here, the ANSI code page on Windows), so no
    // character of the log can make the save fail.
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    if (!file.is_open()) return LogWriteResult::CannotOpen;
    std::string content = logFileContent(log);
    file.write(content.data(), static_cast<std::streamsize>(content.size()));
    file.close();
    return file.fail() ? LogWriteResult::WriteFailed : LogWriteResult::Written;
}

void saveLogAs() {
    try {
        std::optional<std::filesystem::path> path = askLogFilePath(defaultLogFileName());
        if (!path) return;
        switch (writeLogFile(*path, logText())) {
            case LogWriteResult::Written:
                return;
            case LogWriteResult::CannotOpen:
                logError("Cannot open log file output stream");
                break;
            case LogWriteResult::WriteFailed:
                break;
        }
    } catch (...) {
        logError("Error while saving log file");
    }
    showLog();
}
