#include "socket_library.h"

bool startSocketLibrary() { return true; }

void stopSocketLibrary() {}
