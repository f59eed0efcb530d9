#pragma once
// The workspace holds a patient's images: nobody but its user may read it or change the viewer in
// it, whatever the umask the launcher was started with. On Windows the user's temporary folder
// already keeps other accounts out, and what is made in it inherits that.

#include <filesystem>

// Creates folder, not its parents, open to its owner only (0700 on POSIX). True when created;
// false when a folder of that name exists already; raises std::filesystem::filesystem_error for
// any other failure.
bool createPrivateFolder(const std::filesystem::path& folder);

// Takes every permission of group and others off the files and folders below folder, the 7-Zip
// extractor having given them the archive's (POSIX). Links are neither changed nor followed.
// Never raises.
void closeToOthers(const std::filesystem::path& folder) noexcept;
