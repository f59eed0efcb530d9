#pragma once
// The seam between the shared launcher code and the window that stands in front of it (the
// Win32 main window, or the POSIX terminal). Other threads reach the front end only through
// these operations; until a front end is installed they do nothing.

#include <string>

struct FrontEnd {
    // Shows the text in the status line and repaints it at once.
    void (*setStatusText)(const std::wstring& text);
    // Enables or disables the terminate button.
    void (*enableTerminateButton)(bool enabled);
    // Runs a command (IDM_*) on the front end's own thread and returns once it has run.
    void (*deliverCommand)(int commandId);
    // Closes the main window, which ends the front end's loop; the last step of terminating.
    void (*closeWindow)() = nullptr;
    // Writes a block of text where the user reads it (the terminal, above its window); a
    // front end without such a place leaves it out.
    void (*tellUser)(const std::string& text) = nullptr;
};

// Installs the front end; called once by the entry point before any worker thread starts.
void installFrontEnd(const FrontEnd& frontEnd);

void setStatusText(const std::wstring& text);
void enableTerminateButton(bool enabled);
void deliverCommand(int commandId);
void closeMainWindow();
void tellUser(const std::string& text);
