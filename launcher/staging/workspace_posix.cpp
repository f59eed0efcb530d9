#include "workspace_platform.h"

#include <system_error>

namespace fs = std::filesystem;

// TMPDIR (and its siblings) when set, else /tmp; the library checks that it is a folder.
fs::path temporaryFolder() { return fs::temp_directory_path(); }

void deleteFolderTree(const fs::path& folder) noexcept {
    try {
        std::error_code error;
        fs::file_status status = fs::symlink_status(folder, error);
        if (error) return;
        // A link is removed itself, never followed: nothing outside the workspace is touched.
        if (fs::is_directory(status)) {
            fs::directory_iterator entries(folder, error);
            fs::directory_iterator end;
            // Best effort: one entry that cannot go does not keep the others.
            while (!error && entries != end) {
                deleteFolderTree(entries->path());
                entries.increment(error);
            }
        }
        fs::remove(folder, error);
    } catch (...) {
        // Out of memory while forming a path: leave the rest in place.
    }
}

// Nothing deletes files at the next start here; the next launcher's sweep does it instead.
bool deleteAtRestart(const fs::path&) noexcept { return false; }
