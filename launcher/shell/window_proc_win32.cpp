// The main window's procedure: commands, the popup menu, the About dialog, and the ways out.

#include <windows.h>

#include "../../resources/resource.h"
#include "common/commands.h"
#include "common/status.h"
#include "shell/main_window_win32.h"
#include "shell/window_commands.h"

namespace {

void showPopupMenu(HWND window) {
    HMENU menu = CreatePopupMenu();
    if (!menu) return;
    InsertMenuW(menu, 0, MF_BYPOSITION | MF_STRING, IDM_ABOUT, uiText(uiLanguage, UiText::About));
    InsertMenuW(menu, 1, MF_BYPOSITION | MF_SEPARATOR, 0, nullptr);
    InsertMenuW(menu, 2, MF_BYPOSITION | MF_STRING, IDM_SHOW_LOG, uiText(uiLanguage, UiText::ShowLog));
    InsertMenuW(menu, 3, MF_BYPOSITION | MF_STRING, IDM_DOWNLOAD_LOG,
                uiText(uiLanguage, UiText::DownloadLog));
    InsertMenuW(menu, 4, MF_BYPOSITION | MF_SEPARATOR, 0, nullptr);
    InsertMenuW(menu, 5, MF_BYPOSITION | MF_STRING, IDM_EXIT, uiText(uiLanguage, UiText::Exit));
    SetForegroundWindow(window);

    POINT at{};
    if (!GetCursorPos(&at)) {
        // Without a cursor position the menu opens at the window's top-left corner.
        RECT frame{};
        GetWindowRect(window, &frame);
        at = POINT{frame.left, frame.top};
    }
    TrackPopupMenu(menu, 0, at.x, at.y, 0, window, nullptr);
    DestroyMenu(menu);
}

void showAboutDialog() {
    DialogBoxParamW(appInstance, MAKEINTRESOURCEW(IDD_ABOUTBOX), mainWindow, aboutDialogProc, 0);
}

}  // namespace

LRESULT CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (closeMessage != 0 && message == closeMessage) {
        SendMessageW(mainWindow, WM_COMMAND, IDM_EXIT, 0);
        return DefWindowProcW(window, message, wParam, lParam);
    }
    switch (message) {
        case WM_CREATE:
            return 0;
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        case WM_PAINT: {
            PAINTSTRUCT paint;
            BeginPaint(window, &paint);
            EndPaint(window, &paint);
            return 0;
        }
        case WM_COMMAND:
            if (runWindowCommand(LOWORD(wParam), showAboutDialog)) return 0;
            return DefWindowProcW(window, message, wParam, lParam);
        case WM_RBUTTONDOWN:
            showPopupMenu(window);
            return 0;
        case WM_CLOSE:
            // The task bar or another program closing the window must not leave the patient's
            // study behind in the temporary folder: close through the terminate sequence.
            SendMessageW(window, WM_COMMAND, IDM_EXIT, 0);
            return 0;
        case WM_ENDSESSION:
            // The session ends right after this returns: clean up now.
            if (wParam) SendMessageW(window, WM_COMMAND, IDM_EXIT, 0);
            return 0;
        default:
            return DefWindowProcW(window, message, wParam, lParam);
    }
}

INT_PTR CALLBACK aboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG:
            return TRUE;
        case WM_COMMAND:
            if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
                EndDialog(dialog, LOWORD(wParam));
                return TRUE;
            }
            return FALSE;
        default:
            return FALSE;
    }
}
