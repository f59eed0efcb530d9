#pragma once
// Conversions between the launcher's narrow text and UTF-16 (wide) text. The narrow text is
// the system ANSI code page on Windows and UTF-8 on POSIX.

#include <filesystem>
#include <string>

// Converts narrow text to wide text; the result ends at the first NUL.
std::wstring ansiToWide(const std::string& text);

// Converts wide text to narrow text (characters the code page lacks become '?' on Windows).
std::string wideToAnsi(const std::wstring& text);

// A file-system path in narrow form, for log lines and the server's configuration.
std::string pathToAnsi(const std::filesystem::path& path);
