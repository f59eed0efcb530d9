#include "terminate.h"

#include "serving/server_hosting.h"
#include "shell/front_end.h"
#include "shell/socket_library.h"
#include "shell/status.h"
#include "staging/workspace.h"
#include "unpack/command_runner.h"

void terminateLauncher() {
    keepRunning = false;
    stopCommands();  // before the workspace goes: an extractor would write it back
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
