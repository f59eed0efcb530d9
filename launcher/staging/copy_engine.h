#pragma once
// Fills the workspace: the skeleton the viewer needs before the browser opens, the copy-status
// file the viewer page reads, and the tree copy that publishes each file under its final name
// only once it is complete.

#include <filesystem>

// Cleared by every failure while copying the remaining files; never set back to true.
extern bool copyOk;

// Creates the workspace's DATA folder with its DICOM, DW and 7z folders and writes copy status
// "0": what the viewer page finds before anything is unpacked. Raises
// std::filesystem::filesystem_error when a folder cannot be made.
void makeWorkspaceSkeleton(const std::filesystem::path& workspaceDataDir);

// Creates folder, not its parents (a removed workspace is never built up again). An existing
// folder is fine; any other failure raises std::filesystem::filesystem_error.
void makeFolder(const std::filesystem::path& folder);

// Writes "1" or "0", one byte, to copy_status.txt in the workspace's DATA folder (dataFolder,
// or workspaceDataDir). Never raises.
void writeCopyStatus(const std::filesystem::path& dataFolder, bool complete);
void writeCopyStatus(bool complete);

// Copies the tree below source into target, skipping names target already has. A file that
// cannot be copied clears copyOk and the walk goes on; a folder that cannot be created or read
// raises std::filesystem::filesystem_error and ends the whole walk. Returns early, without
// clearing copyOk, once keepRunning is cleared. Links are followed, except a link to a folder
// the walk is already inside: that one is skipped with a WARN line and is no failure.
void copyTree(std::filesystem::path source, std::filesystem::path target);
