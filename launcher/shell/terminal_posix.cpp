#include "terminal.h"

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <deque>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

#include "common/commands.h"
#include "common/front_end.h"
#include "common/status.h"
#include "common/ui_text.h"
#include "log/ansi_text.h"
#include "shell/about.h"
#include "shell/log_export.h"
#include "shell/terminal_view.h"
#include "shell/terminate.h"

namespace {

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
std::mutex screenLock;
std::wstring statusText;
bool buttonEnabled = false;
bool outputIsTerminal = false;
int drawnLines = 0;

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

bool ignoredWhileExiting() { return exiting.load() && std::this_thread::get_id() != loopThread; }

int wakeRead = -1;
int wakeWrite = -1;  // also written by the signal handler
bool inputIsTerminal = false;
bool rawMode = false;
termios originalModes{};
std::string pendingInput;

constexpr char WAKE_SIGNAL = 'S';
constexpr char WAKE_WORK = 'W';

void writeAll(int fd, const std::string& text) {
    size_t written = 0;
    while (written < text.size()) {
        ssize_t n = ::write(fd, text.data() + written, text.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;  // a closed output loses the text, never the launcher
        written += static_cast<size_t>(n);
    }
}

void wakeLoop(char reason) {
    ssize_t n = ::write(wakeWrite, &reason, 1);
    (void)n;  // a full pipe already holds a wake-up
}

extern "C" void onCloseSignal(int) {
    int savedErrno = errno;
    ssize_t n = ::write(wakeWrite, &WAKE_SIGNAL, 1);
    (void)n;
    errno = savedErrno;
}

int terminalColumns() {
    winsize size{};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    return 80;
}

// --- drawing; every function here expects screenLock held ---

const Prompt* shownPrompt() {
    std::lock_guard<std::mutex> guard(queueLock);
    return !prompts.empty() && prompts.front()->shown ? prompts.front() : nullptr;
}

void eraseWindow() {
    if (drawnLines == 0) return;
    writeAll(STDOUT_FILENO, "\r\033[" + std::to_string(drawnLines) + "A\033[J");
    drawnLines = 0;
}

void drawWindow() {
    int columns = terminalColumns();
    std::string title = wideToAnsi(uiText(uiLanguage, UiText::WindowTitle));
    std::string button = terminalButtonLine(buttonEnabled, uiLanguage);
    std::string frame;
    frame += "\033[1m" + clipToColumns(title, columns - 1) + "\033[0m\033[K\n";
    frame += terminalStatusLine(statusText, columns) + "\033[K\n";
    frame += (buttonEnabled ? "\033[7m" : "\033[2m") + clipToColumns(button, columns - 1) + "\033[0m\033[K\n";
    frame += "\033[2m" + clipToColumns(terminalKeyHelp(uiLanguage), columns - 1) + "\033[0m\033[K\n";
    drawnLines = 4;
    if (const Prompt* prompt = shownPrompt()) frame += wideToAnsi(prompt->question);
    writeAll(STDOUT_FILENO, frame);
}

void redraw() {
    // While a question waits on a terminal the person is typing below the window: leave it.
    if (shownPrompt()) return;
    eraseWindow();
    drawWindow();
}

void writeLine(const std::string& line) { writeAll(STDOUT_FILENO, line + "\n"); }

// --- the front end's operations ---

void frontSetStatusText(const std::wstring& text) {
    if (ignoredWhileExiting()) return;
    std::lock_guard<std::mutex> guard(screenLock);
    statusText = text;
    if (outputIsTerminal) redraw();
    else writeLine(statusChangeLine(text));
}

void frontEnableButton(bool enabled) {
    if (ignoredWhileExiting()) return;
    std::lock_guard<std::mutex> guard(screenLock);
    if (buttonEnabled == enabled) return;
    buttonEnabled = enabled;
    if (outputIsTerminal) redraw();
    else writeLine(buttonChangeLine(enabled, uiLanguage));
}

void runCommand(int commandId);

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

// --- commands ---

void showAbout() {
    showText(wideToAnsi(ABOUT_CAPTION) + "\n  " + wideToAnsi(ABOUT_VERSION_LINE) + "\n  " +
             wideToAnsi(ABOUT_SECOND_LINE));
}

void runCommand(int commandId) {
    switch (commandId) {
    case IDM_ABOUT: showAbout(); break;
    case IDM_EXIT:
        exiting = true;
        terminateLauncher();
        break;
    case IDM_SHOW_LOG: showLog(); break;
    case IDM_DOWNLOAD_LOG: std::thread(saveLogAs).detach(); break;
    default: break;
    }
}

bool isClosed() {
    std::lock_guard<std::mutex> guard(queueLock);
    return windowClosed;
}

void runAction(TerminalAction action, const std::string& typed) {
    bool enabled;
    {
        std::lock_guard<std::mutex> guard(screenLock);
        enabled = buttonEnabled;
    }
    int commandId = commandOfAction(action, enabled);
    if (commandId != 0) runCommand(commandId);
    else if (action == TerminalAction::None && !inputIsTerminal)
        showText("Unknown command: " + typed + "\n" + pipeWordHelp());
}

// --- input ---

void setRawMode(bool raw) {
    if (!inputIsTerminal || raw == rawMode) return;
    termios modes = originalModes;
    // Keys arrive one by one without echo; ISIG stays, so Ctrl+C still terminates.
    if (raw) {
        modes.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
        modes.c_cc[VMIN] = 1;
        modes.c_cc[VTIME] = 0;
    }
    if (tcsetattr(STDIN_FILENO, TCSANOW, &modes) == 0) rawMode = raw;
}

// Shows the first waiting question, if it has not been shown yet.
void showNextPrompt() {
    Prompt* prompt = nullptr;
    {
        std::lock_guard<std::mutex> guard(queueLock);
        if (prompts.empty() || prompts.front()->shown) return;
        prompt = prompts.front();
        prompt->shown = true;
    }
    setRawMode(false);
    std::lock_guard<std::mutex> guard(screenLock);
    if (outputIsTerminal) writeAll(STDOUT_FILENO, wideToAnsi(prompt->question));
    else writeLine(wideToAnsi(prompt->question));
}

void answerPrompt(std::optional<std::string> answer) {
    {
        std::lock_guard<std::mutex> guard(queueLock);
        if (prompts.empty()) return;
        prompts.front()->answer = std::move(answer);
        prompts.front()->done = true;
        prompts.pop_front();
        queueChanged.notify_all();
    }
    if (outputIsTerminal) {
        // The question and its answer stay on screen; the window is drawn anew below them.
        std::lock_guard<std::mutex> guard(screenLock);
        drawnLines = 0;
        drawWindow();
    }
}

bool promptWaiting() {
    std::lock_guard<std::mutex> guard(queueLock);
    return !prompts.empty() && prompts.front()->shown;
}

void handleLine(std::string line) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (promptWaiting()) {
        answerPrompt(line);
        return;
    }
    if (line.find_first_not_of(" \t") == std::string::npos) return;
    runAction(actionForWords(line, uiLanguage), line);
}

void cancelAllPrompts() {
    std::lock_guard<std::mutex> guard(queueLock);
    for (Prompt* prompt : prompts) prompt->done = true;
    prompts.clear();
    queueChanged.notify_all();
}

void readInput() {
    char buffer[4096];
    ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) return;
    if (n <= 0) {
        if (!pendingInput.empty()) handleLine(std::exchange(pendingInput, std::string()));
        {
            std::lock_guard<std::mutex> guard(queueLock);
            inputClosed = true;
        }
        cancelAllPrompts();
        return;
    }
    if (rawMode) {
        for (ssize_t i = 0; i < n && !isClosed(); ++i) {
            // An escape sequence (an arrow key, say) is not a row of command keys.
            if (buffer[i] == '\033') break;
            runAction(actionForKey(buffer[i]), std::string(1, buffer[i]));
        }
        return;
    }
    pendingInput.append(buffer, static_cast<size_t>(n));
    size_t end;
    while (!isClosed() && (end = pendingInput.find('\n')) != std::string::npos) {
        std::string line = pendingInput.substr(0, end);
        pendingInput.erase(0, end + 1);
        handleLine(line);
        showNextPrompt();
    }
    if (pendingInput.size() > 65536) pendingInput.clear();  // no line is that long
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

std::optional<std::string> askLine(const std::wstring& question) {
    if (std::this_thread::get_id() == loopThread) return std::nullopt;  // it would wait for itself
    Prompt prompt;
    prompt.question = question;
    std::unique_lock<std::mutex> guard(queueLock);
    if (windowClosed || inputClosed) return std::nullopt;
    prompts.push_back(&prompt);
    wakeLoop(WAKE_WORK);
    queueChanged.wait(guard, [&] { return prompt.done; });
    return prompt.answer;
}

void showText(const std::string& text) {
    std::lock_guard<std::mutex> guard(screenLock);
    std::string block = outputIsTerminal ? printableBlock(text) : text;
    if (block.empty() || block.back() != '\n') block += '\n';
    if (!outputIsTerminal) {
        writeAll(STDOUT_FILENO, block);
        return;
    }
    if (const Prompt* prompt = shownPrompt()) {
        // Someone is typing an answer: say it on a line of its own and ask again.
        writeAll(STDOUT_FILENO, "\n" + block + wideToAnsi(prompt->question));
        return;
    }
    eraseWindow();
    writeAll(STDOUT_FILENO, block);
    drawWindow();
}
