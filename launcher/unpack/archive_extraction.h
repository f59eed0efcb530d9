#pragma once
// Unpacks the disc's two archives into the workspace with the disc's 7-Zip extractor, three
// attempts each. Both run on the start-sequence worker thread and have logged their own lines
// when they return false. The paths come from the caller's copy (see WorkspacePaths).

#include "common/launch_state.h"

// DATA/7z/viewer.7z on the disc into the workspace's DATA/7z folder.
bool extractViewer(const WorkspacePaths& paths);

// data.zip on the disc into the workspace folder itself.
bool extractData(const WorkspacePaths& paths);
