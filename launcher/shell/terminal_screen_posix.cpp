// The terminal front end's screen: the window of four lines (title, status, button, keys) drawn
// below what has been written, and the blocks of text written above it.

#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>

#include "common/status.h"
#include "common/ui_text.h"
#include "log/ansi_text.h"
#include "shell/terminal.h"
#include "shell/terminal_parts_posix.h"

namespace terminal_parts {

// What the window shows. Guarded by screenLock, as is every write to standard output.
std::mutex screenLock;
std::wstring statusText;
bool buttonEnabled = false;
bool outputIsTerminal = false;
int drawnLines = 0;

void writeAll(int fd, const std::string& text) {
    size_t written = 0;
    while (written < text.size()) {
        ssize_t n = ::write(fd, text.data() + written, text.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;  // a closed output loses the text, never the launcher
        written += static_cast<size_t>(n);
    }
}

void writeLine(const std::string& line) { writeAll(STDOUT_FILENO, line + "\n"); }

bool ignoredWhileExiting() { return exiting.load() && std::this_thread::get_id() != loopThread; }

namespace {

int terminalColumns() {
    winsize size{};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    return 80;
}

}  // namespace

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

// --- the front end's operations ---

void frontSetStatusText(const std::wstring& text) {
    if (ignoredWhileExiting()) return;
    std::lock_guard<std::mutex> guard(screenLock);
    statusText = text;
    if (outputIsTerminal)
        redraw();
    else
        writeLine(statusChangeLine(text));
}

void frontEnableButton(bool enabled) {
    if (ignoredWhileExiting()) return;
    std::lock_guard<std::mutex> guard(screenLock);
    if (buttonEnabled == enabled) return;
    buttonEnabled = enabled;
    if (outputIsTerminal)
        redraw();
    else
        writeLine(buttonChangeLine(enabled, uiLanguage));
}

}  // namespace terminal_parts

using namespace terminal_parts;

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
