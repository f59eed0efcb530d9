#include "workspace_removal.h"

#include <thread>

#include "log/ansi_text.h"
#include "log/log.h"
#include "staging/deferred_copy.h"
#include "staging/owned_folder.h"
#include "staging/workspace_lock.h"

namespace fs = std::filesystem;

namespace {

constexpr auto RETRY_PAUSE = std::chrono::milliseconds(100);

}  // namespace

void removeWorkspaceFolder(const fs::path& folder, const std::function<bool()>& holdersGone) noexcept {
    try {
        OwnedFolder opened;
        FolderCheck check = openOwnedFolder(folder, opened);
        if (check != FolderCheck::Own) {
            unlockWorkspace();
            if (check == FolderCheck::NotOwn)
                logWarn("Workspace not removed, it is no longer this user's own: " + pathToAnsi(folder));
            return;
        }
        bool clean = deleteFolderContents(opened, WORKSPACE_LOCK_NAME);
        // A holder still inside (a copy stuck in a read of a stalled disc, an extractor that has
        // not ended yet) keeps its files open. Its read is woken again and again, as it may have
        // begun after the last wake-up, and the removal is tried again once it has left.
        auto deadline = std::chrono::steady_clock::now() + REMOVAL_RETRY_WAIT;
        while (!clean && std::chrono::steady_clock::now() < deadline) {
            cancelBlockedCopyRead();
            std::this_thread::sleep_for(RETRY_PAUSE);
            if (holdersGone()) clean = deleteFolderContents(opened, WORKSPACE_LOCK_NAME);
        }
        unlockWorkspace();
        if (clean && deleteEmptiedFolder(opened, WORKSPACE_LOCK_NAME)) return;

        // Left unheld, the lock file lets the next start remove what the restart does not.
        if (markForRestart(opened))
            logWarn("Temporary files still in use, deleted at the next restart: " + pathToAnsi(folder));
        else
            logWarn("Temporary files left behind, removed at the next start: " + pathToAnsi(folder));
    } catch (...) {
        // Out of memory forming a path: the next start removes what is left.
    }
}
