#include "window_commands.h"

#include <thread>

#include "common/commands.h"
#include "shell/log_export.h"
#include "shell/terminate.h"

bool runWindowCommand(int commandId, void (*showAbout)()) {
    switch (commandId) {
        case IDM_ABOUT:
            showAbout();
            return true;
        case IDM_EXIT:
            terminateLauncher();
            return true;
        case IDM_SHOW_LOG:
            showLog();
            return true;
        case IDM_DOWNLOAD_LOG:
            // Each choice saves on its own thread, which nobody joins.
            std::thread(saveLogAs).detach();
            return true;
        default:
            return false;
    }
}
