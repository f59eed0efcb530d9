#pragma once
// The launcher's embedded server (its settings and its thread) and the browser it opens.

#include <string>
#include <thread>

#include "lumiserv.h"

// The launcher's one server record; the host must not change it while the server runs.
extern ServerConfig launcherServer;

// Receives the server thread, which is detached at once: nothing ever joins it.
extern std::thread serverThread;

// Starts the server on chosenPort with the launcher's settings and runs its loop on a detached
// thread. False at once when keepRunning is false, and false (logged) when the server cannot
// start.
bool startLocalServer();

// Stops the server started above, waiting at most three seconds for its loop to end. Does
// nothing when no server runs.
void stopLocalServer();

// Opens the user's default browser at the viewer's start page. The outcome is not examined.
void openViewerInBrowser();

// "http://localhost:" + port + "/7z/index.html?uniqueId=" + id, without any escaping.
std::wstring viewerAddress(int port, const std::string& id);
