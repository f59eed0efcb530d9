#pragma once
// Points the unpacked viewer at the launcher's server: the first "localhost:8000" in the
// viewer's configuration becomes "localhost:" + chosenPort. The file is treated as plain text.

struct WorkspacePaths;

// True when no change was needed, when the text was not found, or when the file was
// rewritten; false when the file cannot be read, is empty, or cannot be written.
bool fixViewerConfigPort(const WorkspacePaths& paths);
