#include "port_probe.h"

#include <cstdint>
#include <string>

#include "log/log.h"
#include "serving/probe_socket.h"

namespace {

constexpr int FIRST_PORT = 8000;
constexpr int PORT_LIMIT = 8100;

}  // namespace

bool findFreePort() {
    chosenPort = FIRST_PORT;
    for (;;) {
        logInfo("Checking free port number: " + std::to_string(chosenPort));
        if (portCanBeBound(chosenPort)) {
            logInfo("Found free port number: " + std::to_string(chosenPort));
            return true;
        }
        if (++chosenPort >= PORT_LIMIT) {
            logError("No free port found");
            return false;
        }
    }
}

// On Windows the entry point has started Windows Sockets; without it no socket can be created
// and every port counts as taken.
bool portCanBeBound(int port) {
    ProbeSocket probe = ::socket(AF_INET, SOCK_STREAM, 0);
    if (probe == NO_PROBE_SOCKET) return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = htons(static_cast<uint16_t>(port));
    bool bound = ::bind(probe, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    closeProbeSocket(probe);
    return bound;
}
