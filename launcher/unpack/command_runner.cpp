#include "command_runner.h"

#include <string_view>

#include "log/ansi_text.h"
#include "log/log.h"
#include "shell/status.h"
#include "staging/workspace.h"

bool runAndWait(const std::wstring& commandLine) { return runAndWaitWithin(commandLine, RUN_AND_WAIT_LIMIT_MS); }

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

void showRetryStatus() {
    showStatus(stageTextId.load(), uiText(uiLanguage, UiText::RetrySuffix));
}

ChildWorkspaceHold::ChildWorkspaceHold() : held(holdWorkspace()) {}

ChildWorkspaceHold::~ChildWorkspaceHold() { release(); }

void ChildWorkspaceHold::release() {
    if (held) releaseWorkspace();
    held = false;
}

bool terminating() { return !keepRunning.load(); }

void logChildNotStarted() { logWarn("7z not started: terminating"); }

void logChildStopped() { logWarn("7z stopped: terminating"); }

void logSystemError(const char* prefix, uint32_t code) {
    logError(prefix + std::to_string(code) + ": " + systemErrorText(code));
}

void logCommandFailed(uint32_t exitCode, int queryResult) {
    logError("Command failed with exit code: " + std::to_string(exitCode) +
             ", exit code result: " + std::to_string(queryResult));
}
