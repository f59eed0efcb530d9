#include "start_sequence.h"

#include "common/front_end.h"
#include "common/launch_state.h"
#include "common/status.h"
#include "log/log.h"
#include "lumiserv.h"
#include "serving/launcher_hook.h"
#include "serving/port_probe.h"
#include "serving/server_hosting.h"
#include "staging/copy_engine.h"
#include "staging/deferred_copy.h"
#include "staging/private_files.h"
#include "staging/workspace.h"
#include "unpack/archive_extraction.h"
#include "unpack/viewer_config.h"

// Staging holds the workspace in every step that writes into it, so that terminate's removal
// waits for the step; the extractor's runner holds it while its child runs. The status line is
// updated outside any hold: on Windows that call waits for the window's thread, which may be the
// one running terminate and waiting for the hold. After each update the next step's hold is
// refused once terminate has begun, and staging stops there.

namespace {

const char* const STAGING_FAILED = "Cannot copy necessary files to TEMP dir.";

// A stage must report false rather than let an error escape the worker thread, which would
// end the process.
template <typename Stage>
bool runStage(Stage stage, const char* failureLine) {
    try {
        return stage();
    } catch (...) {
        logError(failureLine);
        return false;
    }
}

bool stagingStopped() {
    logWarn("Staging stopped: terminating");
    return false;
}

// The workspace's paths, read once under the hold; every later step builds its paths from
// this copy, never from a workspaceDir that terminate may have cleared since.
bool readWorkspacePaths(WorkspacePaths& paths) {
    {
        WorkspaceHold hold;
        if (!hold.held) return stagingStopped();
        paths = workspacePaths();
    }
    if (paths.workspaceDir.empty()) {
        logError(STAGING_FAILED);
        return false;
    }
    return true;
}

bool stageViewerAndData(const WorkspacePaths& paths, int port) {
    logInfo("Copying files...");
    showStatus(UiText::CopyingBrowser);
    {
        WorkspaceHold hold;
        if (!hold.held) return stagingStopped();
        makeWorkspaceSkeleton(paths.workspaceDataDir);
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
    return fixViewerConfigPort(viewerConfigFile(paths.workspaceDir), port);
}

// The extractor gives what it unpacks the archive's permissions, which let others read; the
// files of the workspace are its user's alone, whatever the launcher's umask.
void closeStagedFiles(const WorkspacePaths& paths) {
    WorkspaceHold hold;
    if (hold.held) closeToOthers(paths.workspaceDir);
}

}  // namespace

bool stageNecessaryFiles() {
    WorkspacePaths paths;
    if (!readWorkspacePaths(paths)) return false;
    bool staged = false;
    try {
        staged = stageViewerAndData(paths, chosenPort);
    } catch (...) {
        keepRunning.store(false);
        logError("Exception in copying necessary files");
        logError(STAGING_FAILED);
    }
    closeStagedFiles(paths);
    return staged;
}

void startSequence() {
    logInfo("Starting initialization...");

    bool started = runStage(findFreePort, "Free port probe failed") &&
                   runStage(createWorkspace, "Creating the workspace failed") &&
                   runStage(stageNecessaryFiles, "Copying necessary files failed") &&
                   runStage(startLocalServer, "Starting lumiserv failed");

    UiText outcome = UiText::Started;
    if (started) {
        try {
            openViewerInBrowser();
        } catch (...) {
            logError("Opening browser failed");
        }
    } else {
        logError("Lumidra start failed!");
        outcome = UiText::StartFailed;
    }
    showStatus(outcome);
    enableTerminateButton(true);

    if (keepRunning && started) {
        try {
            copyRemainingFiles();
        } catch (...) {
            logError("Copying of remaining files failed");
        }
    }

    urlHook.store(launcherUrlHook);
}
