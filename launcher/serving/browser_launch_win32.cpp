#include "browser_launch.h"

#include <windows.h>
#include <shellapi.h>

#include "common/window_owner_win32.h"

void openInBrowser(const std::wstring& address) {
    ShellExecuteW(mainWindow, L"open", address.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}
