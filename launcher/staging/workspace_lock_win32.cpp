#include "workspace_lock.h"

#include <windows.h>

#include "log/ansi_text.h"
#include "log/log.h"

namespace fs = std::filesystem;

namespace {

HANDLE ownLock = INVALID_HANDLE_VALUE;

// Shared with nobody: while the handle is open, any other open of the file fails with a sharing
// violation. The handle is not inherited, so an extractor left running cannot keep it.
HANDLE openExclusive(const fs::path& file, DWORD disposition) {
    return CreateFileW(file.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, disposition,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

bool lockWorkspace(const fs::path& folder) {
    // Created and held in one step: there is no moment at which the file exists unheld.
    fs::path file = folder / WORKSPACE_LOCK_NAME;
    HANDLE handle = openExclusive(file, CREATE_NEW);
    if (handle == INVALID_HANDLE_VALUE) {
        logWarn("Workspace lock not taken: " + pathToAnsi(file));
        return false;
    }
    ownLock = handle;
    return true;
}

void unlockWorkspace() {
    if (ownLock == INVALID_HANDLE_VALUE) return;
    CloseHandle(ownLock);
    ownLock = INVALID_HANDLE_VALUE;
}

LockProbe claimWorkspaceLock(const OwnedFolder& folder, HeldLock& held) {
    // Not followed: a link in the lock's place tells nothing about the folder.
    HANDLE handle = CreateFileW((folder.path / WORKSPACE_LOCK_NAME).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_SHARING_VIOLATION ? LockProbe::OwnerRunning : LockProbe::NoLock;
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(handle, &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        CloseHandle(handle);
        return LockProbe::NoLock;
    }
    held = reinterpret_cast<HeldLock>(handle);
    return LockProbe::Taken;
}

void releaseClaimedLock(HeldLock held) { CloseHandle(reinterpret_cast<HANDLE>(held)); }
