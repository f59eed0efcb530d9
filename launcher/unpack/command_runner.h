#pragma once
// Runs one external command (the disc's 7-Zip extractor) as a hidden child process and reports
// whether it ended with exit code 0. The command line holds the program path first; a relative
// program path is resolved against the current directory. Both runners block the caller until
// the child has ended and have logged their own lines when they return false.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

// Captures the child's standard output and standard error through one pipe; a reader thread
// turns the percentages in it into status-line progress and "Copy progress: " log lines.
bool runWithProgress(const std::wstring& commandLine);

// Runs the same command without capture (its output goes nowhere) and waits for it, at most
// RUN_AND_WAIT_LIMIT_MS; a child still running then is left running and reported as failed.
bool runAndWait(const std::wstring& commandLine);

// runAndWait with the waiting limit as a parameter; each platform provides this one.
bool runAndWaitWithin(const std::wstring& commandLine, unsigned limitMs);

// The system's message text for an error code; empty for code 0.
std::string systemErrorText(uint32_t code);

// Exit code a runner reports when it never obtained one from the child.
constexpr uint32_t EXIT_CODE_NOT_OBTAINED = 1024;
// Exit code of a child that has not ended yet.
constexpr uint32_t EXIT_CODE_STILL_ACTIVE = 259;
// The child is polled this often, and a runAndWait child is waited for at most this long.
constexpr unsigned RUNNER_POLL_MS = 100;
constexpr unsigned RUN_AND_WAIT_LIMIT_MS = 1000000;
// Each read of the child's output is handled on its own, as one chunk of at most this size.
constexpr size_t PROGRESS_CHUNK_SIZE = 256;

// Shared by the platform runners.

// The four characters that end with the chunk's last '%', or "" when that '%' lies in the
// chunk's first four positions or there is none.
std::string progressFigure(const char* chunk, size_t size);

// Shows the chunk's figure after the current stage text and logs it; a chunk without a
// figure changes nothing.
void handleProgressChunk(const char* chunk, size_t size);

// After a failed captured run: the stage text followed by the retry notice.
void showRetryStatus();

// While its child runs, a runner holds the workspace (holdWorkspace), so that terminate's
// removal waits until the child is gone: an extractor left running would write the workspace
// back after it is gone, and outlive the launcher. Once terminate has begun the hold is refused
// (with the WARN line) and no child may start, and a runner ends its child within one poll.
// The hold is let go as soon as the child has ended and been reaped, before any status update:
// on Windows that reaches the window's thread, which may be the one waiting.
struct ChildWorkspaceHold {
    ChildWorkspaceHold();
    ~ChildWorkspaceHold();
    ChildWorkspaceHold(const ChildWorkspaceHold&) = delete;
    ChildWorkspaceHold& operator=(const ChildWorkspaceHold&) = delete;
    void release();
    bool held = false;
};

// A child still running when runAndWait stops waiting is left running, but never unheld: a
// watcher thread takes over the runner's hold, ends the child once terminate has begun and lets
// the workspace go once the child is gone. ended polls the child (and reaps it once it has
// ended); stop ends and reaps it. Without a thread for the watcher the child is ended at once.
void keepHoldingLeftChild(ChildWorkspaceHold& hold, std::function<bool()> ended, std::function<void()> stop);

// True once terminate has begun: a runner then ends its child instead of waiting for it.
bool terminating();

// ERROR prefix + code + ": " + systemErrorText(code).
void logSystemError(const char* prefix, uint32_t code);

// ERROR "Command failed with exit code: " + exitCode + ", exit code result: " + queryResult.
void logCommandFailed(uint32_t exitCode, int queryResult);

// The calling thread's last system error code (errno, GetLastError); each platform provides it.
uint32_t lastSystemError();

// What a runner returns once its child has ended and the workspace is let go: true for a run
// that succeeded; otherwise false, after the lines and status of a failed run, or only the
// WARN line of a run that terminate ended.
bool capturedRunResult(bool succeeded);
bool waitedRunResult(bool succeeded, uint32_t exitCode, int queryResult);

constexpr const char* CREATE_PROCESS_FAILED = "Create process failed with code ";
constexpr const char* LAST_SYSTEM_ERROR = "Last system error message: ";
