#include "browser_launch.h"

// windows.h first: the other Windows headers build on its types.
#include <windows.h>

#include <shellapi.h>

#include "common/window_owner_win32.h"

void openInBrowser(const std::wstring& address) {
    ShellExecuteW(mainWindow, L"open", address.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}
