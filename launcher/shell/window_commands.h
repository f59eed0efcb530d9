#pragma once
// The main window's commands (IDM_*), run alike by every front end on its own thread: About,
// Exit (terminate), Show log, and Download log on a thread of its own.

// Runs the command; showAbout is the front end's own About box. False for an id that is not one
// of the window's commands, which is then left to the front end.
bool runWindowCommand(int commandId, void (*showAbout)());
