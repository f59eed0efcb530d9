#include "stale_workspaces.h"

#include <string>
#include <system_error>
#include <vector>

#include "common/status.h"
#include "log/ansi_text.h"
#include "log/log.h"
#include "staging/workspace_lock.h"
#include "staging/workspace_removal.h"

namespace fs = std::filesystem;

namespace {

bool looksLikeWorkspace(const fs::path& path) {
    std::u8string name = path.filename().u8string();
    std::error_code error;
    // A link is never followed: it could point anywhere.
    return name.rfind(u8"LUMIDRA_", 0) == 0 && fs::is_directory(fs::symlink_status(path, error));
}

// True when the folder was removed whole.
bool removeAbandoned(const fs::path& folder, HeldLock held) {
    bool clean = deleteAllButLock(folder);
    releaseClaimedLock(held);
    if (clean && deleteLockAndFolder(folder)) return true;
    logWarn("Stale workspace not removed completely: " + pathToAnsi(folder));
    return false;
}

}  // namespace

void removeStaleWorkspaces(const fs::path& tempFolder) noexcept {
    try {
        std::vector<fs::path> candidates;
        std::error_code error;
        for (fs::directory_iterator it(tempFolder, error), end; !error && it != end; it.increment(error))
            if (looksLikeWorkspace(it->path())) candidates.push_back(it->path());

        int removed = 0;
        for (const fs::path& folder : candidates) {
            if (!keepRunning.load()) break;
            HeldLock held = 0;
            switch (claimWorkspaceLock(folder, held)) {
                case LockProbe::Taken:
                    if (removeAbandoned(folder, held)) ++removed;
                    break;
                case LockProbe::NoLock:
                    logWarn("Workspace left in place, its launcher cannot be told: " + pathToAnsi(folder));
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
