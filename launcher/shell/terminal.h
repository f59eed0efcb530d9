#pragma once
// The POSIX stand-in for the main window: a terminal front end. It shows the title, the status
// line and the terminate button, reads single keys on a terminal or words from a pipe, and runs
// every command on the thread that runs its loop (the main thread). SIGINT, SIGTERM and SIGHUP
// play the part of the close message.

#include <poll.h>

#include <optional>
#include <string>

// Draws the window (status "Starting Lumidra...", button disabled), installs the front end and
// the signal handlers. False when the terminal cannot be set up.
bool openTerminalWindow();

// Runs commands, keys, words and signals until the window is closed, then restores the
// terminal. Returns the exit code, 0.
int runTerminalLoop();

// Asks the person one question and waits for the line they answer; nullopt when they cannot
// answer any more (input closed, window closed). Called from any thread but the loop's own.
std::optional<std::string> askLine(const std::wstring& question);

// Writes a block of text above the window, which is then drawn again below it.
void showText(const std::string& text);

// The loop's wait for keys, words, signals and commands: the system's poll unless replaced.
extern int (*terminalPoll)(pollfd* watched, nfds_t count, int timeoutMs);
