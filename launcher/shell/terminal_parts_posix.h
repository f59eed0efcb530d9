#pragma once
// What the terminal front end's three parts share: the screen it draws
// (terminal_screen_posix.cpp), the keys, words and answers it reads (terminal_input_posix.cpp),
// and the loop that runs the commands (terminal_posix.cpp). Internal to the terminal; the rest
// of the launcher sees terminal.h.

#include <termios.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "shell/terminal_view.h"

namespace terminal_parts {

// A command handed over by another thread, which waits until the loop has run it.
struct Delivery {
    int commandId;
    bool done = false;
};

// A question asked by another thread, which waits for the answer.
struct Prompt {
    std::wstring question;
    std::optional<std::string> answer;
    bool shown = false;
    bool done = false;
};

// What the window shows. Guarded by screenLock, as is every write to standard output.
extern std::mutex screenLock;
extern std::wstring statusText;
extern bool buttonEnabled;
extern bool outputIsTerminal;
extern int drawnLines;

// Hand-over between other threads and the loop. Guarded by queueLock.
extern std::mutex queueLock;
extern std::condition_variable queueChanged;
extern std::deque<Delivery*> deliveries;
extern std::deque<Prompt*> prompts;
extern bool windowClosed;
extern bool inputClosed;

extern std::thread::id loopThread;
// Set once the exit command runs. A window's thread busy with it serves no other thread's
// updates before the window is gone; neither does this one, so a worker that ends meanwhile
// cannot put "failed to start" over "Removing temporary files...".
extern std::atomic<bool> exiting;

// The input's state; the loop's thread alone touches it.
extern bool inputIsTerminal;
extern bool rawMode;
extern termios originalModes;
extern std::string pendingInput;

constexpr char WAKE_SIGNAL = 'S';
constexpr char WAKE_WORK = 'W';

// The screen. drawWindow and redraw expect screenLock held.
void writeAll(int fd, const std::string& text);
void writeLine(const std::string& line);
const Prompt* shownPrompt();
void drawWindow();
bool ignoredWhileExiting();
void frontSetStatusText(const std::wstring& text);
void frontEnableButton(bool enabled);

// The input.
void setRawMode(bool raw);
void showNextPrompt();
bool promptWaiting();
void readInput();

// The loop.
void wakeLoop(char reason);
void runCommand(int commandId);
bool isClosed();

}  // namespace terminal_parts
