// The terminal front end's loop: it waits for keys, words, signals and commands handed over by
// other threads, and runs every command on its own thread, as the window's message loop does.

#include "terminal.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <thread>

#include "common/commands.h"
#include "common/front_end.h"
#include "common/status.h"
#include "common/ui_text.h"
#include "log/ansi_text.h"
#include "shell/about.h"
#include "shell/terminal_parts_posix.h"
#include "shell/terminal_view.h"
#include "shell/window_commands.h"

namespace terminal_parts {

// Hand-over between other threads and the loop. Guarded by queueLock.
std::mutex queueLock;
std::condition_variable queueChanged;
std::deque<Delivery*> deliveries;
std::deque<Prompt*> prompts;
bool windowClosed = false;
bool inputClosed = false;

std::thread::id loopThread;
// Set once the exit command runs. A window's thread busy with it serves no other thread's
// updates before the window is gone; neither does this one, so a worker that ends meanwhile
// cannot put "failed to start" over "Removing temporary files...".
std::atomic<bool> exiting{false};

namespace {

int wakeRead = -1;
int wakeWrite = -1;  // also written by the signal handler

extern "C" void onCloseSignal(int) {
    int savedErrno = errno;
    ssize_t n = ::write(wakeWrite, &WAKE_SIGNAL, 1);
    (void)n;
    errno = savedErrno;
}

void frontDeliverCommand(int commandId) {
    if (std::this_thread::get_id() == loopThread) {
        runCommand(commandId);
        return;
    }
    Delivery delivery{commandId};
    std::unique_lock<std::mutex> guard(queueLock);
    if (windowClosed) return;  // like a message sent to a window that is gone
    deliveries.push_back(&delivery);
    wakeLoop(WAKE_WORK);
    queueChanged.wait(guard, [&] { return delivery.done; });
}

void frontCloseWindow() {
    std::lock_guard<std::mutex> guard(queueLock);
    windowClosed = true;
}

void showAbout() {
    showText(wideToAnsi(ABOUT_CAPTION) + "\n  " + wideToAnsi(ABOUT_VERSION_LINE) + "\n  " +
             wideToAnsi(ABOUT_SECOND_LINE));
}

void runDeliveries() {
    for (;;) {
        Delivery* delivery;
        {
            std::lock_guard<std::mutex> guard(queueLock);
            if (deliveries.empty() || windowClosed) return;
            delivery = deliveries.front();
            deliveries.pop_front();
        }
        runCommand(delivery->commandId);
        std::lock_guard<std::mutex> guard(queueLock);
        delivery->done = true;
        queueChanged.notify_all();
    }
}

// Returns true when a close signal was among the wake-ups.
bool drainWakeups() {
    bool signalled = false;
    char bytes[64];
    ssize_t n;
    while ((n = ::read(wakeRead, bytes, sizeof bytes)) > 0)
        for (ssize_t i = 0; i < n; ++i) signalled = signalled || bytes[i] == WAKE_SIGNAL;
    return signalled;
}

void releaseWaiters() {
    std::lock_guard<std::mutex> guard(queueLock);
    windowClosed = true;
    for (Delivery* delivery : deliveries) delivery->done = true;
    deliveries.clear();
    for (Prompt* prompt : prompts) prompt->done = true;
    prompts.clear();
    queueChanged.notify_all();
}

bool makeWakePipe() {
    int fds[2];
    if (pipe(fds) != 0) return false;
    for (int fd : fds) {
        fcntl(fd, F_SETFD, FD_CLOEXEC);
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    }
    wakeRead = fds[0];
    wakeWrite = fds[1];
    return true;
}

}  // namespace

void wakeLoop(char reason) {
    ssize_t n = ::write(wakeWrite, &reason, 1);
    (void)n;  // a full pipe already holds a wake-up
}

void runCommand(int commandId) {
    if (commandId == IDM_EXIT) exiting = true;
    runWindowCommand(commandId, showAbout);
}

bool isClosed() {
    std::lock_guard<std::mutex> guard(queueLock);
    return windowClosed;
}

}  // namespace terminal_parts

using namespace terminal_parts;

int (*terminalPoll)(pollfd* watched, nfds_t count, int timeoutMs) = ::poll;

bool openTerminalWindow() {
    if (!makeWakePipe()) return false;
    loopThread = std::this_thread::get_id();
    exiting = false;
    outputIsTerminal = isatty(STDOUT_FILENO) == 1;
    inputIsTerminal = isatty(STDIN_FILENO) == 1 && tcgetattr(STDIN_FILENO, &originalModes) == 0;
    if (inputIsTerminal && tcgetpgrp(STDIN_FILENO) != getpgrp()) {
        // Started in the background: the keys belong to the shell, and touching the terminal's
        // modes would stop the launcher. Signals still reach it.
        inputIsTerminal = false;
        inputClosed = true;
    }

    struct sigaction action {};
    action.sa_handler = onCloseSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signalNumber : {SIGINT, SIGTERM, SIGHUP}) sigaction(signalNumber, &action, nullptr);

    {
        std::lock_guard<std::mutex> guard(screenLock);
        statusText = uiText(uiLanguage, UiText::Starting);
        buttonEnabled = false;
        if (outputIsTerminal) {
            drawWindow();
        } else {
            writeLine(wideToAnsi(uiText(uiLanguage, UiText::WindowTitle)));
            writeLine(statusChangeLine(statusText));
            writeLine(buttonChangeLine(false, uiLanguage));
            writeLine(inputIsTerminal ? terminalKeyHelp(uiLanguage) : pipeWordHelp());
        }
    }
    installFrontEnd({frontSetStatusText, frontEnableButton, frontDeliverCommand, frontCloseWindow, showText});
    return true;
}

int runTerminalLoop() {
    setRawMode(true);
    while (!isClosed()) {
        bool reading;
        {
            std::lock_guard<std::mutex> guard(queueLock);
            reading = !inputClosed;
        }
        pollfd watched[2] = {{wakeRead, POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
        int ready = terminalPoll(watched, reading ? 2 : 1, -1);
        if (ready < 0 && errno != EINTR) {
            // The loop cannot wait any more: leave as the close message would, through terminate,
            // so that the server stops and the workspace goes.
            runCommand(IDM_EXIT);
            break;
        }
        if (ready <= 0) continue;
        if (watched[0].revents & POLLIN) {
            // A close signal acts like the close message: terminate, whatever the button shows.
            if (drainWakeups()) runCommand(IDM_EXIT);
            if (!isClosed()) runDeliveries();
        }
        if (!isClosed() && reading && (watched[1].revents & (POLLIN | POLLHUP | POLLERR))) readInput();
        if (!isClosed()) {
            showNextPrompt();
            if (!promptWaiting()) setRawMode(true);
        }
    }
    releaseWaiters();
    setRawMode(false);
    return 0;
}
