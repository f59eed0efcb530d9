#pragma once
// The Win32 main window: the handles the entry point creates and the procedures that run them.
// Written by the main thread before the start-sequence worker starts, only read afterwards.

#include <windows.h>

#include "common/window_owner_win32.h"

// Registered under "MorvantisLumidraClose" before the entry point runs; 0 if that failed.
extern const UINT closeMessage;

extern HINSTANCE appInstance;
extern HWND statusBar;
extern HWND terminateButton;

// Hands the window's status line, button, commands and closing to the shared code.
void installMainWindowFrontEnd();

// Creates the main window with its status line and (disabled) terminate button.
bool createMainWindow(HINSTANCE instance, int showCommand);

LRESULT CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK aboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
