#include "log_export.h"

// windows.h first: the other Windows headers build on its types.
#include <windows.h>

#include <commdlg.h>

#include "common/status.h"
#include "common/ui_text.h"
#include "log/ansi_text.h"
#include "log/log.h"
#include "shell/main_window_win32.h"

void showLog() {
    std::wstring text = ansiToWide(logText());
    MessageBoxW(nullptr, text.c_str(), L"Lumidra log", MB_OK);
}

constexpr DWORD SAVE_DIALOG_FLAGS = OFN_EXPLORER | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT;
static_assert(SAVE_DIALOG_FLAGS == 0x80806);

std::optional<std::filesystem::path> askLogFilePath(const std::string& defaultName) {
    wchar_t file[MAX_PATH] = {};
    std::wstring proposed = ansiToWide(defaultName);
    proposed.copy(file, MAX_PATH - 1);

    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof(dialog);
    dialog.hwndOwner = mainWindow;
    // Display text and pattern, then the empty pair that ends the list.
    dialog.lpstrFilter = L"Log file (*.log)\0*.log\0\0";
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = file;
    dialog.nMaxFile = MAX_PATH;
    dialog.lpstrTitle = uiText(uiLanguage, UiText::SaveLogAs);
    dialog.Flags = SAVE_DIALOG_FLAGS;
    dialog.lpstrDefExt = L"log";
    if (!GetSaveFileNameW(&dialog)) return std::nullopt;
    return std::filesystem::path(file);
}
