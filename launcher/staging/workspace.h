#pragma once
// The run's temporary workspace: a fresh folder in the user's temporary folder, named by the
// launch id, into which the viewer and the study are staged and which the server serves first.

#include <cstdint>
#include <filesystem>
#include <string>

#include "common/launch_state.h"

// Creates the workspace folder (open to its user only), locks it and sets the launch id and the
// workspace's paths. True
// when the folder was created; every failure has been logged. Staging into it is the start
// sequence's next step.
bool createWorkspace();

// Deletes the workspace silently, as far as it can. Waits (a few seconds at most) for work
// that holds the workspace to let go first. Does nothing when there is no workspace.
void removeWorkspace();

// Work that writes into the workspace from another thread holds it, so that removal does not
// delete the folder under its feet. Holding fails, and nothing is held, once keepRunning has
// been cleared: a terminating launcher must not start new work in the workspace.
bool holdWorkspace();
void releaseWorkspace();

// holdWorkspace for one scope; held says whether the hold was granted.
struct WorkspaceHold {
    WorkspaceHold() : held(holdWorkspace()) {}
    ~WorkspaceHold() {
        if (held) releaseWorkspace();
    }
    WorkspaceHold(const WorkspaceHold&) = delete;
    WorkspaceHold& operator=(const WorkspaceHold&) = delete;
    const bool held;
};

// The launch id of a number: the prefix and the number in lower-case hex, without padding.
std::string launchIdText(uint64_t number);

// Where the launch id's number comes from: all 64 bits from the system's cryptographic random
// source, since the id is what a page must show to end the launcher.
extern uint64_t (*launchNumberSource)();
