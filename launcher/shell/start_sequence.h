#pragma once
// The launcher's one piece of orchestration: from the disc to a running viewer. Runs once, on
// a detached worker thread started by the entry point.

void startSequence();

// The staging part of the road, after the workspace exists and before the server starts: the
// workspace's skeleton and copy status, the viewer, the data and the viewer's port. True when
// all of it succeeded; failures are logged, and terminate arriving meanwhile stops it with a
// WARN line.
bool stageNecessaryFiles();
