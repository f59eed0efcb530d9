// The main window: a status line and the terminate button, created on the main thread, and
// the front-end operations through which other threads reach them.

// windows.h first: the other Windows headers build on its types.
#include <windows.h>

#include <commctrl.h>

#include "../../resources/resource.h"
#include "common/commands.h"
#include "common/front_end.h"
#include "common/status.h"
#include "log/log.h"
#include "shell/main_window_win32.h"

static_assert(RC_CMD_ABOUT == IDM_ABOUT && RC_CMD_EXIT == IDM_EXIT,
              "resource commands differ from the window's");

const UINT closeMessage = RegisterWindowMessageW(L"MorvantisLumidraClose");

HINSTANCE appInstance = nullptr;
HWND mainWindow = nullptr;
HWND statusBar = nullptr;
HWND terminateButton = nullptr;

namespace {

constexpr int WINDOW_Y = 100;
constexpr int WINDOW_WIDTH = 320;
constexpr int WINDOW_HEIGHT = 120;
constexpr DWORD MAIN_WINDOW_STYLE = WS_VISIBLE | WS_CAPTION | WS_MINIMIZEBOX;
static_assert(MAIN_WINDOW_STYLE == 0x10C20000);

// The worker and other threads reach the window only through these; each call is delivered
// synchronously to the main thread, whose message loop keeps running meanwhile.
void setStatusTextWin32(const std::wstring& text) {
    SetWindowTextW(statusBar, text.c_str());
    UpdateWindow(statusBar);
}

void enableTerminateButtonWin32(bool enabled) { EnableWindow(terminateButton, enabled ? TRUE : FALSE); }

void deliverCommandWin32(int commandId) {
    SendMessageW(mainWindow, WM_COMMAND, static_cast<WPARAM>(commandId), 0);
}

// The last step of terminating, on the main thread: WM_DESTROY ends the message loop.
void closeWindowWin32() { DestroyWindow(mainWindow); }

}  // namespace

void installMainWindowFrontEnd() {
    FrontEnd window{};
    window.setStatusText = setStatusTextWin32;
    window.enableTerminateButton = enableTerminateButtonWin32;
    window.deliverCommand = deliverCommandWin32;
    window.closeWindow = closeWindowWin32;
    installFrontEnd(window);
}

bool createMainWindow(HINSTANCE instance, int showCommand) {
    // "winow" is the log line as it has always been written; log readers match it.
    logInfo("Initializing main program winow...");
    appInstance = instance;

    wchar_t className[100] = {};
    LoadStringW(instance, IDS_WINDOW_CLASS, className, 100);
    HWND window = CreateWindowExW(0, className, uiText(uiLanguage, UiText::WindowTitle), MAIN_WINDOW_STYLE,
                                  CW_USEDEFAULT, WINDOW_Y, WINDOW_WIDTH, WINDOW_HEIGHT, nullptr, nullptr,
                                  instance, nullptr);
    if (!window) return false;
    mainWindow = window;

    SetMenu(window, nullptr);
    // Lets the close message in from other processes, also those of lower integrity.
    ChangeWindowMessageFilterEx(window, closeMessage, MSGFLT_ALLOW, nullptr);

    statusBar = CreateWindowExW(0, STATUSCLASSNAMEW, uiText(uiLanguage, UiText::Starting),
                                WS_CHILD | WS_VISIBLE, 20, 20, 280, 20, window, nullptr, instance, nullptr);
    terminateButton = CreateWindowExW(
        0, L"Button", uiText(uiLanguage, UiText::TerminateButton), WS_CHILD | WS_VISIBLE, 50, 10, 200, 40,
        window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDM_EXIT)), instance, nullptr);
    EnableWindow(terminateButton, FALSE);

    ShowWindow(window, showCommand);
    UpdateWindow(window);
    logInfo("Main program window initialized");
    return true;
}
