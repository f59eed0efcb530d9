// Entry point of the POSIX program: language, sockets, the terminal window, the start sequence
// worker and the terminal's loop.

#include <fcntl.h>
#include <unistd.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "common/language.h"
#include "common/socket_library.h"
#include "common/status.h"
#include "log/log.h"
#include "shell/start_sequence.h"
#include "shell/terminal.h"

namespace {

// A launcher started with a standard stream closed would hand that number to the next file it
// opens (the wake-up pipe, a socket) and then read its own wake-ups as typed words, or write the
// window into a socket. Each closed one is opened on /dev/null first, before anything else is.
void openClosedStandardStreams() {
    for (int stream : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
        if (fcntl(stream, F_GETFD) != -1 || errno != EBADF) continue;
        int null = open("/dev/null", stream == STDIN_FILENO ? O_RDONLY : O_WRONLY);
        if (null >= 0 && null != stream) {
            dup2(null, stream);
            close(null);
        }
    }
}

// The server writes its diagnostic lines to standard error. On Windows they reach nobody; on a
// terminal they would tear up the window drawn there, so they are dropped unless standard error
// has been sent somewhere else.
void quietDiagnosticsOnTerminal() {
    if (isatty(STDOUT_FILENO) != 1 || isatty(STDERR_FILENO) != 1) return;
    int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null < 0) return;
    dup2(null, STDERR_FILENO);
    close(null);
}

}  // namespace

int main() {
    openClosedStandardStreams();
    logInfo("Starting Lumidra");

    uiLanguage = readUiLanguage();
    logInfo("System language: " + std::to_string(uiLanguage));

    logInfo(std::string("Lumiserv socket init result: ") + (startSocketLibrary() ? "1" : "0"));

    // A browser that closes its connection early must not end the launcher.
    std::signal(SIGPIPE, SIG_IGN);
    quietDiagnosticsOnTerminal();

    logInfo("Window class registered");
    // "winow" is the log line as it has always been written; log readers match it.
    logInfo("Initializing main program winow...");
    if (!openTerminalWindow()) return 0;
    logInfo("Main program window initialized");

    std::thread(startSequence).detach();
    int exitCode = runTerminalLoop();

    // Detached workers (deferred copy, server, log export) may still be running: leave without
    // running static destructors under them.
    std::fflush(nullptr);
    std::_Exit(exitCode);
}
