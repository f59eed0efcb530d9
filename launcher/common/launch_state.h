#pragma once
// The values one launch keeps for the whole process, in one place: the stages read them here
// and the start sequence hands them on. Each is written before the threads that read it start,
// except the atomics, which several threads share, and the workspace's paths, which removal
// clears (see WorkspacePaths).

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <string>

// Primary language id of the user's UI language; set once at start-up.
extern uint16_t uiLanguage;

// True until terminate (or a staging error) clears it; nothing sets it back.
extern std::atomic<bool> keepRunning;

// Text id of the current extraction stage (a UiText): CopyingBrowser, later CopyingData.
extern std::atomic<uint16_t> stageTextId;

// The server's port: the port being probed, the found port after success, 8100 after a failed
// probe.
extern int chosenPort;

// "LUMIDRA_" + lower-case hex of a 64-bit random number; also the token the viewer page
// presents to ask the launcher to exit.
extern std::string uniqueId;

// Non-empty exactly while a workspace exists.
extern std::filesystem::path workspaceDir;
extern std::filesystem::path workspaceDataDir;
// The current directory at creation time (the disc's root), and its DATA folder.
extern std::filesystem::path sourceRoot;
extern std::filesystem::path sourceDataDir;

// The workspace's paths as one value. Work that goes on across steps reads them once, while it
// holds the workspace (removal clears workspaceDir), and builds every later path from its copy.
struct WorkspacePaths {
    std::filesystem::path workspaceDir;
    std::filesystem::path workspaceDataDir;
    std::filesystem::path sourceRoot;
};

inline WorkspacePaths workspacePaths() { return WorkspacePaths{workspaceDir, workspaceDataDir, sourceRoot}; }
