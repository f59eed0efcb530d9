#include "probe_socket.h"

#include <unistd.h>

#include <cerrno>

void closeProbeSocket(ProbeSocket probe) { ::close(probe); }

bool probeFailedForNoAddress() {
    return errno == EAFNOSUPPORT || errno == EADDRNOTAVAIL || errno == EPROTONOSUPPORT;
}
