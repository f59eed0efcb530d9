#include "workspace.h"

#include <atomic>
#include <chrono>
#include <exception>
#include <sstream>
#include <system_error>
#include <thread>

#include "common/status.h"
#include "log/ansi_text.h"
#include "log/log.h"
#include "staging/deferred_copy.h"
#include "staging/private_files.h"
#include "staging/stale_workspaces.h"
#include "staging/workspace_lock.h"
#include "staging/workspace_platform.h"
#include "staging/workspace_removal.h"

namespace fs = std::filesystem;

namespace {

// Threads currently working inside the workspace (see holdWorkspace).
std::atomic<int> workspaceHolders{0};

// Terminate runs on the window's thread, so it must not hang on a worker stuck in a slow read.
constexpr auto RELEASE_WAIT = std::chrono::seconds(3);
constexpr auto RELEASE_POLL = std::chrono::milliseconds(10);

void waitForHolders() {
    auto deadline = std::chrono::steady_clock::now() + RELEASE_WAIT;
    while (workspaceHolders.load() > 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(RELEASE_POLL);
}

// Steps up to the point where the workspace exists and its paths are set. False when the
// candidate folder exists already or terminate came first; raises for other failures.
bool createWorkspaceFolder() {
    logInfo("Creating TEMP dir...");
    fs::path tempFolder = temporaryFolder();
    logInfo("Tmp dir: " + pathToAnsi(tempFolder));
    fs::path absoluteTemp = tempFolder.empty() ? fs::path() : fs::absolute(tempFolder);
    logInfo("Absolute tmp dir: " + pathToAnsi(absoluteTemp));
    removeStaleWorkspaces(tempFolder);

    uniqueId = launchIdText(launchNumberSource());
    fs::path candidate = tempFolder / uniqueId;

    // Held while the folder is made and the paths are set, so that a terminate arriving now
    // either stops us here or waits and then removes what we made; nothing is left behind.
    if (!holdWorkspace()) {
        logError("TEMP dir [" + pathToAnsi(candidate) + "] not created: terminating");
        return false;
    }
    struct Release {
        ~Release() { releaseWorkspace(); }
    } release;

    if (!createPrivateFolder(candidate)) {
        logError("TEMP dir [" + pathToAnsi(candidate) + "] cannot be created");
        return false;
    }
    lockWorkspace(candidate);
    try {
        sourceRoot = fs::current_path();
    } catch (...) {
        // Nobody would remove a folder whose path was never recorded.
        removeWorkspaceFolder(candidate, [] { return true; });
        throw;
    }
    sourceDataDir = sourceRoot / "DATA";
    workspaceDir = candidate;
    workspaceDataDir = workspaceDir / "DATA";
    logInfo("TEMP dir created: " + pathToAnsi(workspaceDir));
    return true;
}

}  // namespace

uint64_t (*launchNumberSource)() = systemRandomNumber;

std::string launchIdText(uint64_t number) {
    std::ostringstream text;
    text << "LUMIDRA_" << std::hex << std::nouppercase << number;
    return text.str();
}

bool holdWorkspace() {
    // Counted before keepRunning is read, while terminate clears keepRunning before it reads
    // the count: at least one of the two sees the other, so removal never misses a holder.
    workspaceHolders.fetch_add(1);
    if (keepRunning.load()) return true;
    workspaceHolders.fetch_sub(1);
    return false;
}

void releaseWorkspace() { workspaceHolders.fetch_sub(1); }

bool createWorkspace() {
    bool created = false;
    try {
        created = createWorkspaceFolder();
    } catch (const std::exception& error) {
        logError(std::string("Exception in creating TEMP dir: ") + error.what());
    } catch (...) {
        logError("Exception in creating TEMP dir");
    }
    return created;
}

void removeWorkspace() {
    cancelBlockedCopyRead();
    waitForHolders();
    if (workspaceDir.empty()) return;
    removeWorkspaceFolder(workspaceDir, [] { return workspaceHolders.load() == 0; });
    workspaceDir.clear();
}
