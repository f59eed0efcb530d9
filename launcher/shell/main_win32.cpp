// Entry point of the Windows program: language, Windows Sockets, the window class and main
// window, the start-sequence worker and the message loop.

// windows.h first: the other Windows headers build on its types.
#include <windows.h>

#include <commctrl.h>

#include <string>
#include <thread>

#include "../../resources/resource.h"
#include "common/language.h"
#include "common/socket_library.h"
#include "common/status.h"
#include "log/log.h"
#include "shell/main_window_win32.h"
#include "shell/start_sequence.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
    logInfo("Starting Lumidra");

    uiLanguage = readUiLanguage();
    logInfo("System language: " + std::to_string(uiLanguage));

    logInfo(std::string("Lumiserv socket init result: ") + (startSocketLibrary() ? "1" : "0"));

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
    installMainWindowFrontEnd();
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
