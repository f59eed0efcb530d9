#pragma once
// Workspaces that launchers which have since gone (a crash, a kill, a power cut, a logoff) left in
// the temporary folder, with the patient's images in them.

#include <filesystem>

// Removes every "LUMIDRA_*" folder of tempFolder whose owner has gone, as its lock tells. A folder
// whose launcher still runs is not touched; one whose owner cannot be told is left with a WARN
// line. Logs the number removed as INFO. Stops once keepRunning is cleared. Never raises.
void removeStaleWorkspaces(const std::filesystem::path& tempFolder) noexcept;
