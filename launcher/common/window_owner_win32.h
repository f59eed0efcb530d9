#pragma once
// The Win32 main window as the owner of what other layers open on the user's screen (the
// browser through the shell, the save dialog). Set by the entry point before the start-sequence
// worker starts, only read afterwards; null until the window exists.

#include <windows.h>

extern HWND mainWindow;
