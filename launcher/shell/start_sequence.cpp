#include "start_sequence.h"

#include "log/log.h"
#include "lumiserv.h"
#include "serving/launcher_hook.h"
#include "serving/port_probe.h"
#include "serving/server_hosting.h"
#include "shell/front_end.h"
#include "shell/status.h"
#include "staging/deferred_copy.h"
#include "staging/workspace.h"

namespace {

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

}  // namespace

void startSequence() {
    logInfo("Starting initialization...");

    bool started = runStage(findFreePort, "Free port probe failed") &&
                   runStage(createWorkspace, "Creating the workspace failed") &&
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
