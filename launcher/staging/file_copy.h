#pragma once
// The platform's single-file copy and publishing rename, as the copy engine needs them.

#include <filesystem>
#include <functional>

enum class FileCopyResult { Copied, Failed, Cancelled };

// Copies source to target, which must not exist yet (the copy fails rather than touch an
// existing target). The copy keeps the file's attributes; on POSIX the owner's permissions only.
// keepGoing is asked between blocks; once it says false the copy stops. A failed or cancelled copy
// removes what it wrote.
FileCopyResult copyFileExclusive(const std::filesystem::path& source, const std::filesystem::path& target,
                                 const std::function<bool()>& keepGoing);

// Renames from to to, replacing a file named to. False when the rename failed.
bool renameReplacing(const std::filesystem::path& from, const std::filesystem::path& to);
