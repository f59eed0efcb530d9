#pragma once
// The terminal's stand-in for the save dialog: it proposes a file in a folder, takes a typed
// name (relative to that folder, "~" for home, ".log" added when the name has no extension),
// refuses a folder that does not exist and asks before replacing a file.

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

// Asks a question and returns the line typed, or nullopt when no answer can come.
using AskLine = std::function<std::optional<std::string>(const std::wstring& question)>;
// Tells the person something.
using TellLine = std::function<void(const std::string& text)>;

// The chosen file, or nullopt when the person cancels (Esc, "cancel", or no more input).
std::optional<std::filesystem::path> promptForLogFile(const std::wstring& title,
                                                      const std::string& defaultName,
                                                      const std::filesystem::path& folder, const AskLine& ask,
                                                      const TellLine& tell);
