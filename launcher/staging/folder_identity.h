#pragma once
// Which folder a path leads to, whatever way it takes there: the tree copy tells by it a link
// that leads back into a folder the walk is already inside.

#include <cstdint>
#include <filesystem>
#include <optional>

// The device (the volume's serial number on Windows) and the file's number on it.
struct FolderIdentity {
    uint64_t volume = 0;
    uint64_t fileHigh = 0;
    uint64_t fileLow = 0;
    bool operator==(const FolderIdentity&) const = default;
};

// Follows links; nullopt when the folder cannot be looked at or its file system gives it no number.
std::optional<FolderIdentity> folderIdentity(const std::filesystem::path& folder);
