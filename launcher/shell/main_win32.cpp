// Entry point of the Windows program: language, Windows Sockets, the main window, the start
// sequence worker and the message loop.

#include <winsock2.h>
#include <windows.h>
#include <commctrl.h>

#include <string>
#include <thread>

#include "../../resources/resource.h"
#include "log/log.h"
#include "shell/commands.h"
#include "shell/front_end.h"
#include "shell/main_window_win32.h"
#include "shell/start_sequence.h"
#include "shell/status.h"

static_assert(RC_CMD_ABOUT == IDM_ABOUT && RC_CMD_EXIT == IDM_EXIT, "resource commands differ from the window's");

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

void deliverCommandWin32(int commandId) { SendMessageW(mainWindow, WM_COMMAND, static_cast<WPARAM>(commandId), 0); }

bool startWindowsSockets() {
    WSADATA data;
    if (WSAStartup(0x0102, &data) == 0) return true;
    return WSAStartup(0x0101, &data) == 0;
}

}  // namespace

bool createMainWindow(HINSTANCE instance, int showCommand) {
    logInfo("Initializing main program winow...");
    appInstance = instance;

    wchar_t className[100] = {};
    LoadStringW(instance, IDS_WINDOW_CLASS, className, 100);
    HWND window = CreateWindowExW(0, className, uiText(uiLanguage, UiText::WindowTitle), MAIN_WINDOW_STYLE,
                                  CW_USEDEFAULT, WINDOW_Y, WINDOW_WIDTH, WINDOW_HEIGHT, nullptr, nullptr, instance,
                                  nullptr);
    if (!window) return false;
    mainWindow = window;

    SetMenu(window, nullptr);
    // Lets the close message in from other processes, also those of lower integrity.
    ChangeWindowMessageFilterEx(window, closeMessage, MSGFLT_ALLOW, nullptr);

    statusBar = CreateWindowExW(0, STATUSCLASSNAMEW, uiText(uiLanguage, UiText::Starting), WS_CHILD | WS_VISIBLE,
                                20, 20, 280, 20, window, nullptr, instance, nullptr);
    terminateButton = CreateWindowExW(0, L"Button", uiText(uiLanguage, UiText::TerminateButton),
                                      WS_CHILD | WS_VISIBLE, 50, 10, 200, 40, window,
                                      reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDM_EXIT)), instance, nullptr);
    EnableWindow(terminateButton, FALSE);

    ShowWindow(window, showCommand);
    UpdateWindow(window);
    logInfo("Main program window initialized");
    return true;
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
    logInfo("Starting Lumidra");

    uiLanguage = static_cast<uint16_t>(GetUserDefaultUILanguage() & 0x3FF);
    logInfo("System language: " + std::to_string(uiLanguage));

    logInfo(std::string("Lumiserv socket init result: ") + (startWindowsSockets() ? "1" : "0"));

    // The status line's class lives in the common controls library, which registers it only
    // once it is loaded and initialised.
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_BAR_CLASSES};
    InitCommonControlsEx(&controls);

    wchar_t className[100] = {};
    LoadStringW(instance, IDS_WINDOW_CLASS, className, 100);
    HICON icon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_LUMIDRA));
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = mainWindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = icon;
    windowClass.hIconSm = icon;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
    windowClass.lpszMenuName = MAKEINTRESOURCEW(IDR_MAIN_MENU);
    windowClass.lpszClassName = className;
    logInfo("Window class registered");
    RegisterClassExW(&windowClass);

    if (!createMainWindow(instance, showCommand)) return 0;

    HACCEL accelerators = LoadAcceleratorsW(instance, MAKEINTRESOURCEW(IDR_ACCELERATORS));
    installFrontEnd(FrontEnd{setStatusTextWin32, enableTerminateButtonWin32, deliverCommandWin32});
    std::thread(startSequence).detach();

    MSG message{};
    while (GetMessageW(&message, nullptr, 0, 0)) {
        if (!TranslateAcceleratorW(message.hwnd, accelerators, &message)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    // Detached workers (deferred copy, server, log export) may still be running: leave without
    // running static destructors under them, which returning from here would do.
    ExitProcess(static_cast<UINT>(message.wParam));
}
