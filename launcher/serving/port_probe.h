#pragma once
// Picks the port for the embedded server: the first of 8000 to 8099 that can be bound.

#include "common/launch_state.h"

// Probes 8000 to 8099 in ascending order. True when a port could be bound; chosenPort holds it.
bool findFreePort();

// True when an IPv4 stream socket can be bound to the wildcard address at port and an IPv6 one to
// [::1] there, unless the system has no IPv6 (the sockets are closed again at once). False also
// when no socket can be created.
bool portCanBeBound(int port);
