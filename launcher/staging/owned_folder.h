#pragma once
// A workspace folder of the current user, held open while what is inside it is deleted. Every step
// goes through the handle of the folder it is in, never through a path rebuilt from names, and no
// step follows a link or a junction: a folder that another user planted, or swapped for a link
// half-way, cannot lead the deletion anywhere else.

#include <cstdint>
#include <filesystem>

struct OwnedFolder {
    std::filesystem::path path;
    intptr_t parent = -1;  // the folder holding it, where the platform deletes through one (POSIX)
    intptr_t handle = -1;
    OwnedFolder() = default;
    OwnedFolder(const OwnedFolder&) = delete;
    OwnedFolder& operator=(const OwnedFolder&) = delete;
    ~OwnedFolder();
};

enum class FolderCheck {
    Own,      // opened: a real folder of the current user
    NotOwn,   // a link, a file, a folder of another user: left alone
    Missing,  // not there
};

// Opens folder without following a link at its end and checks it: a directory (on Windows no
// reparse point) whose owner is the current user (POSIX: the effective user). opened holds it only
// when the answer is Own.
FolderCheck openOwnedFolder(const std::filesystem::path& folder, OwnedFolder& opened);

// True when nobody but its owner may enter or change the folder, as a workspace is made: mode 0700
// on POSIX; on Windows what is made in the user's temporary folder inherits its access rules.
bool closedToOthers(const OwnedFolder& folder);

// Deletes everything inside the folder but its entry named keep (nothing is kept when keep is
// empty). A link is deleted itself, never followed; another file system mounted inside is left.
// True when nothing but keep is left.
bool deleteFolderContents(const OwnedFolder& folder, const std::filesystem::path& keep) noexcept;

// Deletes the entry named last (the lock file) and then the folder, empty by then. True when the
// folder is gone.
bool deleteEmptiedFolder(OwnedFolder& folder, const std::filesystem::path& last) noexcept;

// Marks what is left of the folder, and the folder, for deletion when the machine next starts;
// children before their folder, links themselves. False where the platform has no such thing or
// refuses (it takes an administrator on Windows), or when an entry could not be marked.
bool markForRestart(const OwnedFolder& folder) noexcept;
