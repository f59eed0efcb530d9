#include "deferred_copy.h"

#include <filesystem>

#include "common/status.h"
#include "log/log.h"
#include "staging/copy_engine.h"
#include "staging/workspace.h"

namespace fs = std::filesystem;

void copyRemainingFiles() {
    // Terminate removes the workspace; holding it makes that removal wait for us to leave.
    if (!holdWorkspace()) return;
    struct Release {
        ~Release() { releaseWorkspace(); }
    } release;
    // Without a workspace the target would be the disc's own DATA folder.
    if (workspaceDir.empty()) return;
    CancellableCopyThread cancellable;

    try {
        logInfo("Copying remaining files...");
        fs::path source = sourceRoot / "DATA";
        fs::path target = workspaceDir / "DATA";

        try {
            // Any kind of entry counts, even a dangling link; DW is optional on a disc.
            if (fs::exists(fs::symlink_status(source / "DW"))) copyTree(source / "DW", target / "DW");
        } catch (...) {
            copyOk = false;
            logError("Error during copying remaining DW files...");
        }
        try {
            copyTree(source / "DICOM", target / "DICOM");
        } catch (...) {
            copyOk = false;
            logError("Error during copying remaining DICOM files...");
        }

        logInfo("Copying of remaining files finished.");
        // After terminate the workspace is about to go; writing into it would only race the removal.
        if (keepRunning.load()) writeCopyStatus(copyOk);
    } catch (...) {
        // Out of memory forming the paths: the status file keeps saying "0".
        copyOk = false;
    }
}
