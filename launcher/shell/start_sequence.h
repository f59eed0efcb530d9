#pragma once
// The launcher's one piece of orchestration: from the disc to a running viewer. Runs once, on
// a detached worker thread started by the entry point.

void startSequence();
