// Runs the extractor as a hidden child process, with or without capturing its output.

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "log/log.h"
#include "unpack/command_runner.h"

namespace {

// CreateProcessW may write into the command line it is given.
std::vector<wchar_t> writableCommandLine(const std::wstring& commandLine) {
    std::vector<wchar_t> buffer(commandLine.begin(), commandLine.end());
    buffer.push_back(L'\0');
    return buffer;
}

void closeIfOpen(HANDLE& handle) {
    if (handle) CloseHandle(handle);
    handle = nullptr;
}

// Both handles of a started child are closed on every path, once the run's result is known.
bool closeChildHandles(PROCESS_INFORMATION& process, bool result) {
    closeIfOpen(process.hProcess);
    closeIfOpen(process.hThread);
    return result;
}

// TerminateProcess only begins the end; the child's files in the workspace are closed once its
// handle is signalled.
constexpr DWORD CHILD_END_WAIT_MS = 5000;

// Ends a child that the runner still waits for.
void stopChild(HANDLE child) {
    TerminateProcess(child, 1);
    WaitForSingleObject(child, CHILD_END_WAIT_MS);
}

// One reader per captured run, owning its read end; the flag is shared with the runner so a
// reader left over from an earlier run never sees a later run's state.
void progressReader(HANDLE readEnd, std::shared_ptr<std::atomic<bool>> reading) {
    char chunk[PROGRESS_CHUNK_SIZE];
    while (reading->load()) {
        DWORD got = 0;
        if (!ReadFile(readEnd, chunk, static_cast<DWORD>(sizeof(chunk)), &got, nullptr) || got == 0) {
            reading->store(false);
            break;
        }
        handleProgressChunk(chunk, got);
    }
    CloseHandle(readEnd);
}

}  // namespace

std::string systemErrorText(uint32_t code) {
    if (code == 0) return std::string();
    char* buffer = nullptr;
    DWORD length = FormatMessageA(
        FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr,
        code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<char*>(&buffer), 0, nullptr);
    std::string text;
    if (buffer) {
        text.assign(buffer, length);
        LocalFree(buffer);
    }
    return text;
}

uint32_t lastSystemError() { return GetLastError(); }

bool runWithProgress(const std::wstring& commandLine) {
    ChildWorkspaceHold hold;
    if (!hold.held) return false;
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) {
        logWarn("Cannot create 7z stdout pipe");
        return false;
    }
    if (!SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0)) {
        logWarn("Cannot set handle inherit for 7z stdout pipe");
        closeIfOpen(readEnd);
        closeIfOpen(writeEnd);
        return false;
    }

    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nullptr;
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    PROCESS_INFORMATION process{};
    std::vector<wchar_t> command = writableCommandLine(commandLine);
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr,
                        &startup, &process)) {
        logSystemError(CREATE_PROCESS_FAILED, GetLastError());
        closeIfOpen(process.hProcess);
        closeIfOpen(process.hThread);
        closeIfOpen(readEnd);
        closeIfOpen(writeEnd);
        return false;
    }

    auto reading = std::make_shared<std::atomic<bool>>(true);
    try {
        std::thread(progressReader, readEnd, reading).detach();
    } catch (...) {
        // Nobody would read its output or see it end; it must not keep our handles either.
        stopChild(process.hProcess);
        closeIfOpen(readEnd);
        closeIfOpen(writeEnd);
        closeIfOpen(process.hProcess);
        closeIfOpen(process.hThread);
        throw;
    }

    DWORD exitCode = EXIT_CODE_NOT_OBTAINED;
    BOOL queried = FALSE;
    do {
        queried = GetExitCodeProcess(process.hProcess, &exitCode);
        Sleep(RUNNER_POLL_MS);
    } while (exitCode == EXIT_CODE_STILL_ACTIVE && !terminating());
    // After terminate the child is ended if it still runs, and waited for either way.
    if (terminating()) stopChild(process.hProcess);
    hold.release();

    reading->store(false);
    // Without our copy of the write end, the reader's last read ends the stream instead of
    // blocking.
    closeIfOpen(writeEnd);
    return closeChildHandles(process, capturedRunResult(queried && exitCode == 0));
}

bool runAndWaitWithin(const std::wstring& commandLine, unsigned limitMs) {
    ChildWorkspaceHold hold;
    if (!hold.held) return false;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    std::vector<wchar_t> command = writableCommandLine(commandLine);
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                        &startup, &process)) {
        logSystemError(CREATE_PROCESS_FAILED, GetLastError());
        closeIfOpen(process.hProcess);
        closeIfOpen(process.hThread);
        logCommandFailed(EXIT_CODE_NOT_OBTAINED, 0);
        return false;
    }

    // Waited for in poll-sized steps, so that terminate is seen within one.
    const ULONGLONG deadline = GetTickCount64() + limitMs;
    for (;;) {
        const ULONGLONG now = GetTickCount64();
        const DWORD step =
            static_cast<DWORD>(std::min<ULONGLONG>(RUNNER_POLL_MS, deadline > now ? deadline - now : 0));
        if (WaitForSingleObject(process.hProcess, step) != WAIT_TIMEOUT) break;
        if (terminating() || step == 0) break;
    }
    if (terminating()) stopChild(process.hProcess);

    DWORD exitCode = EXIT_CODE_NOT_OBTAINED;
    BOOL queried = GetExitCodeProcess(process.hProcess, &exitCode);
    if (queried && exitCode == EXIT_CODE_STILL_ACTIVE) {
        // The watcher owns the process handle from here; it is closed when the watcher ends.
        HANDLE handle = process.hProcess;
        process.hProcess = nullptr;
        std::shared_ptr<void> child(handle, CloseHandle);
        keepHoldingLeftChild(
            hold, [child] { return WaitForSingleObject(child.get(), 0) != WAIT_TIMEOUT; },
            [child] { stopChild(child.get()); });
    }
    hold.release();
    return closeChildHandles(process, waitedRunResult(queried && exitCode == 0, exitCode, queried ? 1 : 0));
}
