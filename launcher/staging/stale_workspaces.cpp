#include "stale_workspaces.h"

#include <string>
#include <system_error>
#include <vector>

#include "common/status.h"
#include "log/ansi_text.h"
#include "log/log.h"
#include "staging/owned_folder.h"
#include "staging/workspace_lock.h"

namespace fs = std::filesystem;

namespace {

bool namedLikeWorkspace(const fs::path& path) {
    return path.filename().u8string().rfind(u8"LUMIDRA_", 0) == 0;
}

// True when the folder was removed whole.
bool removeAbandoned(OwnedFolder& folder, HeldLock held) {
    bool clean = deleteFolderContents(folder, WORKSPACE_LOCK_NAME);
    releaseClaimedLock(held);
    if (clean && deleteEmptiedFolder(folder, WORKSPACE_LOCK_NAME)) return true;
    logWarn("Stale workspace not removed completely: " + pathToAnsi(folder.path));
    return false;
}

}  // namespace

void removeStaleWorkspaces(const fs::path& tempFolder) noexcept {
    try {
        std::vector<fs::path> candidates;
        std::error_code error;
        for (fs::directory_iterator it(tempFolder, error), end; !error && it != end; it.increment(error))
            if (namedLikeWorkspace(it->path())) candidates.push_back(it->path());

        int removed = 0;
        for (const fs::path& path : candidates) {
            if (!keepRunning.load()) break;
            // Only a folder that is provably a workspace of this user is ever emptied: another
            // user may plant one of that name, or fill one left open, to have it delete for him.
            OwnedFolder folder;
            if (openOwnedFolder(path, folder) != FolderCheck::Own || !closedToOthers(folder)) continue;
            HeldLock held = 0;
            switch (claimWorkspaceLock(folder, held)) {
                case LockProbe::Taken:
                    if (removeAbandoned(folder, held)) ++removed;
                    break;
                case LockProbe::NoLock:
                    logWarn("Workspace left in place, its launcher cannot be told: " + pathToAnsi(path));
                    break;
                case LockProbe::OwnerRunning:
                    break;
            }
        }
        logInfo("Stale workspaces removed: " + std::to_string(removed));
    } catch (...) {
        logWarn("Looking for stale workspaces failed");
    }
}
