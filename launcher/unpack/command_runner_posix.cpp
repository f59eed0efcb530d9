#include "command_runner.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "command_line.h"
#include "log/ansi_text.h"
#include "log/log.h"

extern char** environ;

namespace {

// How long a finished captured run waits for its reader to handle the last chunk, so that the
// progress lines of one run come before whatever its caller logs next. A grandchild that
// keeps the pipe open cannot hold the launcher longer than this.
constexpr auto READER_DRAIN_LIMIT = std::chrono::seconds(1);
constexpr auto WAIT_STEP = std::chrono::milliseconds(10);

// One captured run, shared by the runner and its reader thread. Each run has its own, so a
// reader that outlives its run cannot disturb the next attempt.
struct Capture {
    int readEnd = -1;
    std::atomic<bool> reading{false};
    std::mutex lock;
    std::condition_variable ended;
    bool finished = false;
};

void progressReader(std::shared_ptr<Capture> capture) {
    char chunk[PROGRESS_CHUNK_SIZE];
    while (capture->reading.load()) {
        ssize_t got;
        do {
            got = read(capture->readEnd, chunk, sizeof chunk);
        } while (got < 0 && errno == EINTR);
        if (got <= 0) {
            capture->reading = false;
            break;
        }
        handleProgressChunk(chunk, static_cast<size_t>(got));
    }
    close(capture->readEnd);
    std::lock_guard<std::mutex> guard(capture->lock);
    capture->finished = true;
    capture->ended.notify_all();
}

void closeDescriptor(int& fd) {
    if (fd >= 0) close(fd);
    fd = -1;
}

// Starts the command with standard input from /dev/null and standard output and error on
// outputFd, or on /dev/null when outputFd is negative. Returns 0 or the system error code.
int spawnCommand(const std::wstring& commandLine, int outputFd, pid_t& child) {
    std::vector<std::string> arguments = splitCommandLine(wideToAnsi(commandLine));
    if (arguments.empty()) return ENOENT;
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    int failure = posix_spawn_file_actions_init(&actions);
    if (failure != 0) return failure;
    failure = posix_spawnattr_init(&attributes);
    if (failure != 0) {
        posix_spawn_file_actions_destroy(&actions);
        return failure;
    }

    failure = posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    if (failure == 0 && outputFd >= 0) {
        failure = posix_spawn_file_actions_adddup2(&actions, outputFd, STDOUT_FILENO);
        if (failure == 0) failure = posix_spawn_file_actions_adddup2(&actions, outputFd, STDERR_FILENO);
    } else if (failure == 0) {
        failure = posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        if (failure == 0) failure = posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    }

    // Ignored signals survive exec; the extractor must not inherit the launcher's choices.
    sigset_t defaults;
    sigset_t noMask;
    sigemptyset(&defaults);
    for (int signalNumber : {SIGPIPE, SIGCHLD, SIGHUP, SIGINT, SIGQUIT, SIGTERM})
        sigaddset(&defaults, signalNumber);
    sigemptyset(&noMask);
    if (failure == 0) failure = posix_spawnattr_setsigdefault(&attributes, &defaults);
    if (failure == 0) failure = posix_spawnattr_setsigmask(&attributes, &noMask);
    if (failure == 0)
        failure = posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

    // A program named without a folder is looked up on PATH, as the system does for a command
    // line on Windows; any other relative path is taken from the current directory.
    if (failure == 0) {
        const bool hasFolder = arguments.front().find('/') != std::string::npos;
        failure = hasFolder ? posix_spawn(&child, argv[0], &actions, &attributes, argv.data(), environ)
                            : posix_spawnp(&child, argv[0], &actions, &attributes, argv.data(), environ);
    }
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    return failure;
}

uint32_t exitCodeOf(int status) {
    if (WIFEXITED(status)) return static_cast<uint32_t>(WEXITSTATUS(status));
    // Killed by a signal: report it the way shells do, never as success.
    if (WIFSIGNALED(status)) return 128u + static_cast<uint32_t>(WTERMSIG(status));
    return EXIT_CODE_NOT_OBTAINED;
}

enum class Query { Obtained, Interrupted, Lost };

// One exit-code query that does not block: EXIT_CODE_STILL_ACTIVE while the child runs. The
// query that sees the child's end reaps it.
Query queryExitCode(pid_t child, uint32_t& exitCode) {
    int status = 0;
    const pid_t result = waitpid(child, &status, WNOHANG);
    if (result == 0) {
        exitCode = EXIT_CODE_STILL_ACTIVE;
        return Query::Obtained;
    }
    if (result == child) {
        exitCode = exitCodeOf(status);
        return Query::Obtained;
    }
    return errno == EINTR ? Query::Interrupted : Query::Lost;
}

// Ends a child that the runner (or the watcher that took it over) still waits for, and reaps it.
// Only that one signals it, and never once it has been reaped, so the id cannot have been handed on.
void stopChild(pid_t child) {
    kill(child, SIGKILL);
    int status;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
}

void waitForReader(const std::shared_ptr<Capture>& capture) {
    std::unique_lock<std::mutex> guard(capture->lock);
    capture->ended.wait_for(guard, READER_DRAIN_LIMIT, [&] { return capture->finished; });
}

}  // namespace

std::string systemErrorText(uint32_t code) {
    if (code == 0) return std::string();
    return std::system_category().message(static_cast<int>(code));
}

uint32_t lastSystemError() { return static_cast<uint32_t>(errno); }

bool runWithProgress(const std::wstring& commandLine) {
    ChildWorkspaceHold hold;
    if (!hold.held) return false;
    int pipeEnds[2] = {-1, -1};
    if (pipe(pipeEnds) != 0) {
        logWarn("Cannot create 7z stdout pipe");
        return false;
    }
    int& readEnd = pipeEnds[0];
    int& writeEnd = pipeEnds[1];
    // Only the child's standard output and error may hold the pipe; the originals stay here.
    if (fcntl(readEnd, F_SETFD, FD_CLOEXEC) != 0 || fcntl(writeEnd, F_SETFD, FD_CLOEXEC) != 0) {
        logWarn("Cannot set handle inherit for 7z stdout pipe");
        closeDescriptor(readEnd);
        closeDescriptor(writeEnd);
        return false;
    }

    pid_t child = 0;
    uint32_t exitCode = EXIT_CODE_NOT_OBTAINED;
    int failure = spawnCommand(commandLine, writeEnd, child);
    if (failure != 0) {
        errno = failure;
        logSystemError(CREATE_PROCESS_FAILED, static_cast<uint32_t>(failure));
        closeDescriptor(readEnd);
        closeDescriptor(writeEnd);
        return false;
    }

    auto capture = std::make_shared<Capture>();
    capture->readEnd = readEnd;
    capture->reading = true;
    try {
        std::thread(progressReader, capture).detach();
    } catch (...) {
        closeDescriptor(readEnd);
        closeDescriptor(writeEnd);
        // Nobody would read its output or see it end.
        stopChild(child);
        throw;
    }
    readEnd = -1;  // the reader owns it now

    // Every query is followed by one sleep, the last one included. A child that can no longer
    // be queried is not ours to wait for.
    Query last = Query::Lost;
    do {
        last = queryExitCode(child, exitCode);
        std::this_thread::sleep_for(std::chrono::milliseconds(RUNNER_POLL_MS));
        if (last == Query::Obtained && exitCode == EXIT_CODE_STILL_ACTIVE && terminating()) {
            stopChild(child);
            break;
        }
    } while (last == Query::Interrupted || (last == Query::Obtained && exitCode == EXIT_CODE_STILL_ACTIVE));

    hold.release();
    capture->reading = false;
    closeDescriptor(writeEnd);
    waitForReader(capture);
    return capturedRunResult(last == Query::Obtained && exitCode == 0);
}

bool runAndWaitWithin(const std::wstring& commandLine, unsigned limitMs) {
    ChildWorkspaceHold hold;
    if (!hold.held) return false;
    pid_t child = 0;
    int failure = spawnCommand(commandLine, -1, child);
    if (failure != 0) {
        errno = failure;
        logSystemError(CREATE_PROCESS_FAILED, static_cast<uint32_t>(failure));
        logCommandFailed(EXIT_CODE_NOT_OBTAINED, 0);
        return false;
    }

    uint32_t exitCode = EXIT_CODE_NOT_OBTAINED;
    Query last = Query::Lost;
    bool stopped = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    for (;;) {
        last = queryExitCode(child, exitCode);
        if (last == Query::Interrupted) continue;
        if (last == Query::Lost || exitCode != EXIT_CODE_STILL_ACTIVE) break;
        if (terminating()) {
            stopChild(child);
            stopped = true;
            break;
        }
        if (std::chrono::steady_clock::now() >= deadline) break;
        std::this_thread::sleep_for(WAIT_STEP);
    }
    if (!stopped && last == Query::Obtained && exitCode == EXIT_CODE_STILL_ACTIVE) {
        keepHoldingLeftChild(
            hold,
            [child] {
                uint32_t code = EXIT_CODE_STILL_ACTIVE;
                const Query query = queryExitCode(child, code);
                return query == Query::Lost || (query == Query::Obtained && code != EXIT_CODE_STILL_ACTIVE);
            },
            [child] { stopChild(child); });
    }
    hold.release();
    return waitedRunResult(last == Query::Obtained && exitCode == 0, exitCode,
                           last == Query::Obtained ? 1 : 0);
}
