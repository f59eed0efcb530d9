#include "workspace_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>

#include <cstdio>

#include "log/log.h"

namespace fs = std::filesystem;

namespace {

int ownLock = -1;

}  // namespace

bool lockWorkspace(const fs::path& folder) {
    // Made and locked under another name first, then renamed into place: a sweeping launcher never
    // sees the lock file unlocked while its owner runs. Close-on-exec: an extractor left running
    // must not keep the lock of a launcher that has gone.
    fs::path pending = folder / WORKSPACE_LOCK_NAME;
    pending += ".new";
    int fd = ::open(pending.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        logWarn("Workspace lock not taken: " + pending.string());
        return false;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 ||
        std::rename(pending.c_str(), (folder / WORKSPACE_LOCK_NAME).c_str()) != 0) {
        ::close(fd);
        ::unlink(pending.c_str());
        logWarn("Workspace lock not taken: " + pending.string());
        return false;
    }
    ownLock = fd;
    return true;
}

void unlockWorkspace() {
    if (ownLock < 0) return;
    ::close(ownLock);
    ownLock = -1;
}

LockProbe claimWorkspaceLock(const OwnedFolder& folder, HeldLock& held) {
    int fd = ::openat(static_cast<int>(folder.handle), WORKSPACE_LOCK_NAME.c_str(),
                      O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) return LockProbe::NoLock;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != ::geteuid()) {
        ::close(fd);
        return LockProbe::NoLock;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        bool running = errno == EWOULDBLOCK;
        ::close(fd);
        return running ? LockProbe::OwnerRunning : LockProbe::NoLock;
    }
    held = fd;
    return LockProbe::Taken;
}

void releaseClaimedLock(HeldLock held) { ::close(static_cast<int>(held)); }
