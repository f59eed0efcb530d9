#include "copy_engine.h"

#include "log/log.h"
#include "shell/status.h"
#include "staging/workspace.h"
#include "unpack/archive_extraction.h"
#include "unpack/viewer_config.h"

namespace fs = std::filesystem;

// Staging holds the workspace in every step that writes into it, so that terminate's removal
// waits for the step; the extractor's runner holds it while its child runs. The status line is
// updated outside any hold: on Windows that call waits for the window's thread, which may be the
// one running terminate and waiting for the hold. After each update the next step's hold is
// refused once terminate has begun, and staging stops there.

namespace {

const char* const STAGING_FAILED = "Cannot copy necessary files to TEMP dir.";

bool stagingStopped() {
    logWarn("Staging stopped: terminating");
    return false;
}

void makeSkeleton(const WorkspacePaths& paths) {
    makeFolder(paths.workspaceDataDir);
    makeFolder(paths.workspaceDataDir / "DICOM");
    makeFolder(paths.workspaceDataDir / "DW");
    makeFolder(paths.workspaceDataDir / "7z");
    writeCopyStatus(paths.workspaceDataDir, false);
}

}  // namespace

bool stageNecessaryFiles() {
    WorkspacePaths paths;
    {
        WorkspaceHold hold;
        if (!hold.held) return stagingStopped();
        paths = workspacePaths();
    }
    if (paths.workspaceDir.empty()) {
        logError(STAGING_FAILED);
        return false;
    }
    try {
        logInfo("Copying files...");
        showStatus(UiText::CopyingBrowser);
        {
            WorkspaceHold hold;
            if (!hold.held) return stagingStopped();
            makeSkeleton(paths);
        }

        if (!extractViewer(paths)) {
            if (!keepRunning.load()) return stagingStopped();
            logError(STAGING_FAILED);
            return false;
        }
        stageTextId.store(static_cast<uint16_t>(UiText::CopyingData));
        showStatus(UiText::CopyingData);
        if (!keepRunning.load()) return stagingStopped();

        if (!extractData(paths)) return keepRunning.load() ? false : stagingStopped();
        WorkspaceHold hold;
        if (!hold.held) return stagingStopped();
        return fixViewerConfigPort(paths);
    } catch (...) {
        keepRunning.store(false);
        logError("Exception in copying necessary files");
        logError(STAGING_FAILED);
        return false;
    }
}
