#include "port_probe.h"

#include <winsock2.h>

#include <cstdint>

// Windows Sockets was started by the entry point; without it no socket can be created and
// every port counts as taken.
bool portCanBeBound(int port) {
    SOCKET probe = ::socket(AF_INET, SOCK_STREAM, 0);
    if (probe == INVALID_SOCKET) return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = htons(static_cast<uint16_t>(port));
    bool bound = ::bind(probe, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::closesocket(probe);
    return bound;
}
