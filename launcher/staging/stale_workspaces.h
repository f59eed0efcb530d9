#pragma once
// Workspaces that launchers which have since gone (a crash, a kill, a power cut, a logoff) left in
// the temporary folder, with the patient's images in them.

#include <filesystem>

// Removes every "LUMIDRA_*" folder of tempFolder that is a workspace of this user (a folder of
// the user's own, closed to others: see owned_folder.h) and whose launcher has gone, as its lock tells. A
// folder whose launcher still runs is not touched; one whose launcher cannot be told is left with a WARN
// line; anything else of that name (a link, a folder of another user or open to others) is not looked into.
// Logs the number removed as INFO. Stops once keepRunning is cleared. Never raises.
void removeStaleWorkspaces(const std::filesystem::path& tempFolder) noexcept;
