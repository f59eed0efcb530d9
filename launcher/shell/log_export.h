#pragma once
// Showing the in-memory log to the user and saving it to a file of their choice. The saving
// logic is shared; the box that shows the log and the dialog that asks for the file are the
// platform's.

#include <filesystem>
#include <optional>
#include <string>

// Shows the whole log and returns when the user has dismissed it (platform).
void showLog();

// The whole save, run on a thread of its own (several may run at once): asks for a file and
// writes the log to it. A save that fails shows the log instead; a cancelled one does nothing.
void saveLogAs();

// Asks where to save, proposing the default name; nullopt when the user cancels (platform). The
// answer names a file in an existing folder, and the user has agreed to replace it if it exists.
std::optional<std::filesystem::path> askLogFilePath(const std::string& defaultName);

// "LumidraLog-" + local date and time + ".log", every colon and blank made a hyphen.
std::string defaultLogFileName();

// The log's own bytes, every line feed written as carriage return and line feed.
std::string logFileContent(const std::string& log);

enum class LogWriteResult { Written, CannotOpen, WriteFailed };

// Creates or truncates the file and writes logFileContent(log) to it.
LogWriteResult writeLogFile(const std::filesystem::path& path, const std::string& log);
