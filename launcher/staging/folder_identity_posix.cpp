#include "folder_identity.h"

#include <sys/stat.h>

std::optional<FolderIdentity> folderIdentity(const std::filesystem::path& folder) {
    struct stat info {};
    if (stat(folder.c_str(), &info) != 0) return std::nullopt;
    return FolderIdentity{static_cast<uint64_t>(info.st_dev), 0, static_cast<uint64_t>(info.st_ino)};
}
