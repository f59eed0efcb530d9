#include "command_runner.h"

#include <chrono>
#include <string_view>
#include <thread>

#include "common/status.h"
#include "log/ansi_text.h"
#include "log/log.h"
#include "staging/workspace.h"

bool runAndWait(const std::wstring& commandLine) {
    return runAndWaitWithin(commandLine, RUN_AND_WAIT_LIMIT_MS);
}

std::string progressFigure(const char* chunk, size_t size) {
    if (chunk == nullptr) return std::string();
    std::string_view text(chunk, size);
    size_t percent = text.rfind('%');
    // The extractor right-aligns its percentage in three characters; a '%' too close to the
    // start of the chunk cannot have them in front of it.
    if (percent == std::string_view::npos || percent <= 3) return std::string();
    return std::string(text.substr(percent - 3, 4));
}

void handleProgressChunk(const char* chunk, size_t size) {
    std::string figure = progressFigure(chunk, size);
    if (figure.empty()) return;
    showStatus(stageTextId.load(), ansiToWide(figure));
    logInfo("Copy progress: " + figure);
}

void showRetryStatus() { showStatus(stageTextId.load(), uiText(uiLanguage, UiText::RetrySuffix)); }

ChildWorkspaceHold::ChildWorkspaceHold() : held(holdWorkspace()) {
    if (!held) logWarn("7z not started: terminating");
}

ChildWorkspaceHold::~ChildWorkspaceHold() { release(); }

void ChildWorkspaceHold::release() {
    if (held) releaseWorkspace();
    held = false;
}

bool terminating() { return !keepRunning.load(); }

void keepHoldingLeftChild(ChildWorkspaceHold& hold, std::function<bool()> ended, std::function<void()> stop) {
    if (!hold.held) return;
    try {
        std::thread([ended, stop] {
            while (!ended()) {
                if (terminating()) {
                    stop();
                    break;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(RUNNER_POLL_MS));
            }
            releaseWorkspace();
        }).detach();
        hold.held = false;  // the watcher lets it go
    } catch (...) {
        stop();
    }
}

void logSystemError(const char* prefix, uint32_t code) {
    logError(prefix + std::to_string(code) + ": " + systemErrorText(code));
}

void logCommandFailed(uint32_t exitCode, int queryResult) {
    logError("Command failed with exit code: " + std::to_string(exitCode) +
             ", exit code result: " + std::to_string(queryResult));
}

namespace {

// Ended by terminate: nothing will be retried, and the status line is terminate's.
bool stoppedByTerminate() {
    if (!terminating()) return false;
    logWarn("7z stopped: terminating");
    return true;
}

}  // namespace

bool capturedRunResult(bool succeeded) {
    if (succeeded) return true;
    if (stoppedByTerminate()) return false;
    showRetryStatus();
    logSystemError(LAST_SYSTEM_ERROR, lastSystemError());
    return false;
}

bool waitedRunResult(bool succeeded, uint32_t exitCode, int queryResult) {
    if (succeeded) return true;
    if (stoppedByTerminate()) return false;
    logSystemError(LAST_SYSTEM_ERROR, lastSystemError());
    logCommandFailed(exitCode, queryResult);
    return false;
}
