#pragma once
// The one orderly way out of the launcher. Every front end runs it on its own thread for
// command 105, whoever asked for it: the terminate button, Exit, the close request or the
// viewer page.

// Stops the staging, the server and the socket library, deletes the workspace and closes the
// main window, which ends the front end's loop. Each step runs whatever the previous one did.
void terminateLauncher();
