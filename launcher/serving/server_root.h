#pragma once
// The server opens its files by narrow paths, which on Windows are in the ANSI code page. That code
// page may lack characters of a folder's name (a temporary folder under a user name in Cyrillic or
// Chinese on a Western system); converted anyway, they become '?' and every file of the folder a
// 404.

#include <filesystem>
#include <optional>
#include <string>

// A narrow path that names folder: the path itself when the code page holds it whole, else its
// short (8.3) form when that has only characters the code page holds; nothing when neither.
std::optional<std::string> narrowFolderPath(const std::filesystem::path& folder);
