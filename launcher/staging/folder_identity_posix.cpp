#include "folder_identity.h"

#include <sys/stat.h>

std::optional<FolderIdentity> folderIdentity(const std::filesystem::path& folder) {
    struct stat info {};
    // A file system that numbers nothing would make every folder look like every other.
    if (stat(folder.c_str(), &info) != 0 || info.st_ino == 0) return std::nullopt;
    return FolderIdentity{static_cast<uint64_t>(info.st_dev), 0, static_cast<uint64_t>(info.st_ino)};
}
