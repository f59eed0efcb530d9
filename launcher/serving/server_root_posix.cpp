#include "server_root.h"

// Paths are bytes here, and the server opens them as they are.
std::optional<std::string> narrowFolderPath(const std::filesystem::path& folder) { return folder.native(); }
