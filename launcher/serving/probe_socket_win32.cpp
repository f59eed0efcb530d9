#include "probe_socket.h"

void closeProbeSocket(ProbeSocket probe) { ::closesocket(probe); }

bool probeFailedForNoAddress() {
    int error = WSAGetLastError();
    return error == WSAEAFNOSUPPORT || error == WSAEADDRNOTAVAIL || error == WSAEPROTONOSUPPORT;
}
