#pragma once
// The platform pieces of the workspace.

#include <cstdint>
#include <filesystem>

// The user's temporary folder; raises std::filesystem::filesystem_error when the platform
// names none or names one that is not an existing folder.
std::filesystem::path temporaryFolder();

// 64 bits from the system's cryptographic random source; raises std::system_error when it
// gives none.
uint64_t systemRandomNumber();
