#include "log_export.h"

#include <cstdlib>

#include "common/status.h"
#include "common/ui_text.h"
#include "log/ansi_text.h"
#include "log/log.h"
#include "shell/save_prompt.h"
#include "shell/terminal.h"

namespace {

// No look-up in the user database: the disc's launcher carries its own C library, whose NSS
// would load the running system's mismatched one.
std::filesystem::path homeFolder() {
    if (const char* home = std::getenv("HOME"); home && *home) return home;
    return std::filesystem::current_path();
}

}  // namespace

void showLog() {
    // The whole log, between two marker lines, where the message box would show it.
    showText("--- Lumidra log ---\n" + logText() + "--- end of Lumidra log ---");
}

std::optional<std::filesystem::path> askLogFilePath(const std::string& defaultName) {
    return promptForLogFile(uiText(uiLanguage, UiText::SaveLogAs), defaultName, homeFolder(), askLine,
                            showText);
}
