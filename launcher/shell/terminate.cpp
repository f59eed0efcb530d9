#include "terminate.h"

#include "common/front_end.h"
#include "common/socket_library.h"
#include "common/status.h"
#include "serving/server_hosting.h"
#include "staging/workspace.h"

void terminateLauncher() {
    // A running extractor sees this within one poll, ends its child and lets the workspace go,
    // which removeWorkspace waits for.
    keepRunning = false;
    enableTerminateButton(false);
    showStatus(UiText::RemovingTempFiles);
    stopLocalServer();
    stopSocketLibrary();  // the server start's
    stopSocketLibrary();  // the entry point's
    try {
        removeWorkspace();
    } catch (...) {
        // What cannot be deleted stays behind; the window closes all the same.
    }
    closeMainWindow();
}
