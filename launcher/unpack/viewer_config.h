#pragma once
// Points the unpacked viewer at the launcher's server: the first "localhost:8000" in the
// viewer's configuration becomes "localhost:" + port. The file is treated as plain text.

#include <filesystem>

// data/config/config-lumidra.json of the viewer unpacked into the workspace's DATA/7z folder.
std::filesystem::path viewerConfigFile(const std::filesystem::path& workspaceDir);

// True when no change was needed (port 8000 or below: the file is not even looked at), when
// the text was not found, or when the file was rewritten; false when the file cannot be read,
// is empty, or cannot be written.
bool fixViewerConfigPort(const std::filesystem::path& configFile, int port);
