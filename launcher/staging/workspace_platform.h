#pragma once
// The platform pieces of the workspace.

#include <filesystem>

// The user's temporary folder; raises std::filesystem::filesystem_error when the platform
// names none or names one that is not an existing folder.
std::filesystem::path temporaryFolder();

// Deletes folder and everything below it without asking; what cannot be deleted stays.
void deleteFolderTree(const std::filesystem::path& folder) noexcept;

// Marks path (a file, or a folder empty by then) for deletion when the machine next starts.
// False where the platform has no such thing or refuses (it takes an administrator on Windows).
bool deleteAtRestart(const std::filesystem::path& path) noexcept;
