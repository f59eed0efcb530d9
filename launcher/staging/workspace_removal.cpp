#include "workspace_removal.h"

#include <system_error>
#include <thread>
#include <vector>

#include "log/ansi_text.h"
#include "log/log.h"
#include "staging/deferred_copy.h"
#include "staging/workspace_lock.h"
#include "staging/workspace_platform.h"

namespace fs = std::filesystem;

namespace {

constexpr auto RETRY_PAUSE = std::chrono::milliseconds(100);

// Not there any more; an entry whose state cannot be read counts as still there.
bool gone(const fs::path& path) {
    std::error_code error;
    return fs::symlink_status(path, error).type() == fs::file_type::not_found;
}

// Children before their folder, as the restart deletes them in the order they were marked; a link
// is marked itself, never followed. False when any entry could not be marked.
bool markTreeForRestart(const fs::path& path) {
    std::error_code error;
    bool marked = true;
    if (fs::is_directory(fs::symlink_status(path, error))) {
        std::vector<fs::path> children;
        for (fs::directory_iterator it(path, error), end; !error && it != end; it.increment(error))
            children.push_back(it->path());
        for (const fs::path& child : children) marked = markTreeForRestart(child) && marked;
    }
    return deleteAtRestart(path) && marked;
}

}  // namespace

bool deleteAllButLock(const fs::path& folder) noexcept {
    try {
        std::error_code error;
        std::vector<fs::path> entries;
        for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error))
            if (it->path().filename() != WORKSPACE_LOCK_NAME) entries.push_back(it->path());
        if (error) return gone(folder);
        for (const fs::path& entry : entries) deleteFolderTree(entry);
        for (const fs::path& entry : entries)
            if (!gone(entry)) return false;
        return true;
    } catch (...) {
        return false;
    }
}

bool deleteLockAndFolder(const fs::path& folder) noexcept {
    try {
        std::error_code error;
        fs::remove(folder / WORKSPACE_LOCK_NAME, error);
        fs::remove(folder, error);
        return gone(folder);
    } catch (...) {
        return false;
    }
}

void removeWorkspaceFolder(const fs::path& folder, const std::function<bool()>& holdersGone) noexcept {
    try {
        bool clean = deleteAllButLock(folder);
        // A holder still inside (a copy stuck in a read of a stalled disc, an extractor that has
        // not ended yet) keeps its files open. Its read is woken again and again, as it may have
        // begun after the last wake-up, and the removal is tried again once it has left.
        auto deadline = std::chrono::steady_clock::now() + REMOVAL_RETRY_WAIT;
        while (!clean && std::chrono::steady_clock::now() < deadline) {
            cancelBlockedCopyRead();
            std::this_thread::sleep_for(RETRY_PAUSE);
            if (holdersGone()) clean = deleteAllButLock(folder);
        }
        unlockWorkspace();
        if (clean && deleteLockAndFolder(folder)) return;

        // Left unheld, the lock file lets the next start remove what the restart does not.
        if (markTreeForRestart(folder))
            logWarn("Temporary files still in use, deleted at the next restart: " + pathToAnsi(folder));
        else
            logWarn("Temporary files left behind, removed at the next start: " + pathToAnsi(folder));
    } catch (...) {
        // Out of memory forming a path: the next start removes what is left.
    }
}
