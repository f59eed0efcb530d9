// Looks at and drives a running launcher from another process, as a person or another program
// would: finds its main window by class, reads what is on screen, sends commands and messages.
// Prints UTF-8 to standard output; exits 0 on success, 1 when the thing looked for is not
// there (in time), 2 on a usage error.

#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

constexpr UINT MESSAGE_TIMEOUT_MS = 5000;

std::string toUtf8(const std::wstring& text) {
    if (text.empty()) return std::string();
    int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                   nullptr, nullptr);
    std::string out(static_cast<size_t>(size > 0 ? size : 0), '\0');
    if (size > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size, nullptr,
                            nullptr);
    return out;
}

void print(const std::wstring& text) {
    std::string out = toUtf8(text);
    std::fwrite(out.data(), 1, out.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

HWND mainWindow() { return FindWindowW(L"LUMIDRALAUNCHER", nullptr); }

// WM_GETTEXT is marshalled between processes, so this reads controls of another program too.
std::wstring windowText(HWND window) {
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, MESSAGE_TIMEOUT_MS, &length))
        return L"";
    std::vector<wchar_t> buffer(length + 2, L'\0');
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()),
                             SMTO_ABORTIFHUNG, MESSAGE_TIMEOUT_MS, &copied)) {
        return L"";
    }
    return std::wstring(buffer.data(), copied < buffer.size() ? copied : buffer.size() - 1);
}

template <typename Find>
HWND waitFor(Find find, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    for (;;) {
        if (HWND found = find()) return found;
        if (GetTickCount() - start >= timeoutMs) return nullptr;
        Sleep(50);
    }
}

// A top-level window of the launcher's process with this caption (message box, dialog).
HWND launcherDialog(const wchar_t* caption) {
    HWND main = mainWindow();
    if (!main) return nullptr;
    DWORD launcher = 0;
    GetWindowThreadProcessId(main, &launcher);
    HWND candidate = nullptr;
    while ((candidate = FindWindowExW(nullptr, candidate, L"#32770", caption)) != nullptr) {
        DWORD owner = 0;
        GetWindowThreadProcessId(candidate, &owner);
        if (owner == launcher) return candidate;
    }
    return nullptr;
}

struct ChildTexts {
    std::vector<std::wstring> texts;
};

BOOL CALLBACK collectChild(HWND child, LPARAM param) {
    auto* out = reinterpret_cast<ChildTexts*>(param);
    wchar_t className[64] = {};
    GetClassNameW(child, className, 64);
    out->texts.push_back(std::wstring(className) + L": " + windowText(child));
    return TRUE;
}

void printChildren(HWND window) {
    ChildTexts children;
    EnumChildWindows(window, collectChild, reinterpret_cast<LPARAM>(&children));
    for (const auto& text : children.texts) print(text);
}

// Reads, prints and (after holdMs) closes the dialog with this caption; 1 when it does not
// appear or go in time.
int readDialog(const wchar_t* caption, DWORD timeoutMs, bool onlyMessageText, DWORD holdMs) {
    HWND dialog = waitFor([caption] { return launcherDialog(caption); }, timeoutMs);
    if (!dialog) return 1;
    Sleep(holdMs);
    if (onlyMessageText) {
        // A message box keeps its text in the static control with id 0xFFFF.
        print(windowText(GetDlgItem(dialog, 0xFFFF)));
    } else {
        printChildren(dialog);
    }
    PostMessageW(dialog, WM_COMMAND, IDOK, 0);
    return waitFor([caption] { return launcherDialog(caption) ? nullptr : HWND(1); }, timeoutMs) ? 0 : 1;
}

// Command 108, then types the file name into the save dialog and presses Save.
int saveLog(const std::wstring& file, DWORD timeoutMs) {
    const wchar_t* caption = L"Save Lumidra log as...";
    PostMessageW(mainWindow(), WM_COMMAND, 108, 0);
    HWND dialog = waitFor([caption] { return launcherDialog(caption); }, timeoutMs);
    if (!dialog) return 1;
    // The explorer-style dialog keeps the name in a combo box (cmb13) or an edit (edt1).
    HWND name = GetDlgItem(dialog, 0x47c);
    if (!name) name = GetDlgItem(dialog, 0x480);
    if (!name) return 1;
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(file.c_str()), SMTO_ABORTIFHUNG,
                        MESSAGE_TIMEOUT_MS, &ignored);
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDOK)));
    return waitFor([caption] { return launcherDialog(caption) ? nullptr : HWND(1); }, timeoutMs) ? 0 : 1;
}

void addKey(std::vector<INPUT>& inputs, WORD key, bool up) {
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = key;
    input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    inputs.push_back(input);
}

// Real key strokes into the (foreground) main window: accelerators look at the keyboard's
// state, not only at the message.
void pressWithAlt(HWND window, wchar_t character) {
    SetForegroundWindow(window);
    Sleep(200);
    SHORT scan = VkKeyScanW(character);
    WORD key = LOBYTE(scan);
    bool shift = (HIBYTE(scan) & 1) != 0;
    std::vector<INPUT> inputs;
    addKey(inputs, VK_MENU, false);
    if (shift) addKey(inputs, VK_SHIFT, false);
    addKey(inputs, key, false);
    addKey(inputs, key, true);
    if (shift) addKey(inputs, VK_SHIFT, true);
    addKey(inputs, VK_MENU, true);
    SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
}

HWND popupMenuWindow() { return FindWindowW(L"#32768", nullptr); }

int usage() {
    std::fputs(
        "usage: probe <command>\n"
        "  wait-window <ms>        wait until the launcher's main window exists\n"
        "  wait-gone <ms>          wait until it no longer exists\n"
        "  title | status | button  the title, the status line, 'enabled' or 'disabled'\n"
        "  wait-status <text> <ms> wait until the status line reads text\n"
        "  controls                class and text of every child window\n"
        "  style                   the main window's style in hex\n"
        "  command <id>            post WM_COMMAND with that id\n"
        "  log <ms>                command 106, print the 'Lumidra log' box's text, press OK\n"
        "  about <ms> [hold ms]    command 104, print the About dialog's controls, press OK\n"
        "  alt-char <c> <ms>       ALT with the character c; print the About dialog it opens, press OK\n"
        "  save-log <file> <ms>    command 108, save the log as file through the save dialog\n"
        "  close-message           send the registered close message\n"
        "  wm-close                post WM_CLOSE\n"
        "  end-session             send WM_QUERYENDSESSION and WM_ENDSESSION\n"
        "  popup <x> <y> <ms>      right-click the window's client point, wait for the menu\n"
        "  popup-close             close an open popup menu\n",
        stderr);
    return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) return usage();
    std::wstring command = argv[1];
    auto number = [&](int index) -> long {
        return index < argc ? std::wcstol(argv[index], nullptr, 10) : -1;
    };

    if (command == L"wait-window") return waitFor(mainWindow, static_cast<DWORD>(number(2))) ? 0 : 1;
    if (command == L"wait-gone") {
        return waitFor([] { return mainWindow() ? nullptr : HWND(1); }, static_cast<DWORD>(number(2))) ? 0
                                                                                                       : 1;
    }

    HWND main = mainWindow();
    if (!main) {
        std::fputs("no launcher window\n", stderr);
        return 1;
    }
    HWND status = FindWindowExW(main, nullptr, L"msctls_statusbar32", nullptr);
    HWND button = FindWindowExW(main, nullptr, L"Button", nullptr);

    if (command == L"title") {
        print(windowText(main));
    } else if (command == L"status") {
        if (!status) return 1;
        print(windowText(status));
    } else if (command == L"wait-status" && argc >= 4) {
        std::wstring wanted = argv[2];
        bool seen = waitFor([&] { return windowText(status) == wanted ? HWND(1) : nullptr; },
                            static_cast<DWORD>(number(3)));
        if (!seen) print(windowText(status));
        return seen ? 0 : 1;
    } else if (command == L"button") {
        if (!button) return 1;
        print(IsWindowEnabled(button) ? L"enabled" : L"disabled");
    } else if (command == L"controls") {
        printChildren(main);
    } else if (command == L"style") {
        wchar_t text[32];
        std::swprintf(text, 32, L"%08lX", static_cast<unsigned long>(GetWindowLongPtrW(main, GWL_STYLE)));
        print(text);
    } else if (command == L"command" && argc >= 3) {
        PostMessageW(main, WM_COMMAND, static_cast<WPARAM>(number(2)), 0);
    } else if (command == L"log" && argc >= 3) {
        PostMessageW(main, WM_COMMAND, 106, 0);
        return readDialog(L"Lumidra log", static_cast<DWORD>(number(2)), true, 0);
    } else if (command == L"about" && argc >= 3) {
        PostMessageW(main, WM_COMMAND, 104, 0);
        return readDialog(L"About LumidraLauncher", static_cast<DWORD>(number(2)), false,
                          argc >= 4 ? static_cast<DWORD>(number(3)) : 0);
    } else if (command == L"alt-char" && argc >= 4) {
        pressWithAlt(main, argv[2][0]);
        return readDialog(L"About LumidraLauncher", static_cast<DWORD>(number(3)), false, 0);
    } else if (command == L"save-log" && argc >= 4) {
        return saveLog(argv[2], static_cast<DWORD>(number(3)));
    } else if (command == L"close-message") {
        UINT close = RegisterWindowMessageW(L"MorvantisLumidraClose");
        PostMessageW(main, close, 0, 0);
    } else if (command == L"wm-close") {
        PostMessageW(main, WM_CLOSE, 0, 0);
    } else if (command == L"end-session") {
        DWORD_PTR answer = 0;
        SendMessageTimeoutW(main, WM_QUERYENDSESSION, 0, 0, SMTO_ABORTIFHUNG, MESSAGE_TIMEOUT_MS, &answer);
        PostMessageW(main, WM_ENDSESSION, TRUE, 0);
    } else if (command == L"popup" && argc >= 5) {
        POINT at{static_cast<LONG>(number(2)), static_cast<LONG>(number(3))};
        ClientToScreen(main, &at);
        SetCursorPos(at.x, at.y);
        PostMessageW(main, WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(number(2), number(3)));
        return waitFor(popupMenuWindow, static_cast<DWORD>(number(4))) ? 0 : 1;
    } else if (command == L"popup-close") {
        HWND menu = popupMenuWindow();
        if (!menu) return 1;
        PostMessageW(main, WM_CANCELMODE, 0, 0);
    } else {
        return usage();
    }
    return 0;
}
