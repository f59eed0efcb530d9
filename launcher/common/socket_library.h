#pragma once
// Windows Sockets has to be started before the first socket and stopped once per start; other
// systems need neither, and there both operations do nothing.

// Starts the socket library, asking for version 2.1 and, failing that, 1.1. True if either worked.
bool startSocketLibrary();

// Undoes one start; the result is of no interest to any caller.
void stopSocketLibrary();
