#pragma once
// The ownership lock of a workspace: a file inside it that its launcher holds open for as long as
// it runs. The system lets go of it when the process ends, however it ends (a crash, a kill, a
// power cut, a logoff), so a later launcher can tell a workspace whose owner has gone from one that
// is still in use.

#include <cstdint>
#include <filesystem>

#include "staging/owned_folder.h"

// The lock file's name inside the workspace folder.
inline const std::filesystem::path WORKSPACE_LOCK_NAME{"lumidra.lock"};

// Creates the lock file in folder and holds it until unlockWorkspace or the end of the process.
// False (after a WARN line) when it cannot: the workspace then counts as one whose owner cannot be
// told, which no other launcher removes.
bool lockWorkspace(const std::filesystem::path& folder);

// Lets go of the lock this process holds; its file stays. Does nothing when none is held.
void unlockWorkspace();

enum class LockProbe {
    Taken,         // the owner has gone; the caller holds the lock now
    OwnerRunning,  // a running launcher holds it
    NoLock,        // no lock file to open: an older launcher, or one still creating it
};

// A platform handle of a lock taken by claimWorkspaceLock.
using HeldLock = intptr_t;

// Tries to take the lock of another launcher's workspace folder. A lock file that is a link, or
// that belongs to another user, tells nothing: NoLock.
LockProbe claimWorkspaceLock(const OwnedFolder& folder, HeldLock& held);

// Lets go of a lock taken by claimWorkspaceLock; its file stays.
void releaseClaimedLock(HeldLock held);
