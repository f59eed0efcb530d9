// The terminal front end's input: single keys on a terminal, words on a pipe, and the answers
// to questions other threads ask (askLine).

#include <unistd.h>

#include <cerrno>
#include <optional>
#include <utility>

#include "common/status.h"
#include "log/ansi_text.h"
#include "shell/terminal.h"
#include "shell/terminal_parts_posix.h"

namespace terminal_parts {

bool inputIsTerminal = false;
bool rawMode = false;
termios originalModes{};
std::string pendingInput;

namespace {

void runAction(TerminalAction action, const std::string& typed) {
    bool enabled;
    {
        std::lock_guard<std::mutex> guard(screenLock);
        enabled = buttonEnabled;
    }
    int commandId = commandOfAction(action, enabled);
    if (commandId != 0)
        runCommand(commandId);
    else if (action == TerminalAction::None && !inputIsTerminal)
        showText("Unknown command: " + typed + "\n" + pipeWordHelp());
}

}  // namespace

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
    if (outputIsTerminal)
        writeAll(STDOUT_FILENO, wideToAnsi(prompt->question));
    else
        writeLine(wideToAnsi(prompt->question));
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

}  // namespace terminal_parts

using namespace terminal_parts;

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
