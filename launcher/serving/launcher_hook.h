#pragma once
// The launcher's own answers under "cmd": the launch id, and the viewer page's exit request.

#include "lumiserv.h"

// Called on the server thread for every "cmd" request once installed as urlHook. Returns 0
// when it answered (outBuffer holds the reply text), 1 when the path is not its own.
//   "/uniqueId"                   -> the launch id
//   "/exit?uniqueId=" + launch id -> "OK", and the launcher terminates a second later
int launcherUrlHook(HandlerRequest* request);

// The exit thread's body: one second after it starts, runs the exit command on the front
// end's thread and returns once it has run.
void delayedExit();
