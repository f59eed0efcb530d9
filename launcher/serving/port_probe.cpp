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

namespace {

enum class Probe { bound, taken, noSuchAddress };

Probe probeBind(int family, const sockaddr* address, int length) {
    ProbeSocket probe = ::socket(family, SOCK_STREAM, 0);
    if (probe == NO_PROBE_SOCKET) return probeFailedForNoAddress() ? Probe::noSuchAddress : Probe::taken;
    Probe result = Probe::bound;
    if (::bind(probe, address, length) != 0)
        result = probeFailedForNoAddress() ? Probe::noSuchAddress : Probe::taken;
    closeProbeSocket(probe);
    return result;
}

}  // namespace

// On Windows the entry point has started Windows Sockets; without it no socket can be created
// and every port counts as taken.
bool portCanBeBound(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = htons(static_cast<uint16_t>(port));
    if (probeBind(AF_INET, reinterpret_cast<const sockaddr*>(&address), sizeof address) != Probe::bound)
        return false;
    // The browser opens "localhost", which it tries on [::1] first: a program listening there
    // would get the launch id and could answer in the viewer's place. A system without IPv6 has
    // nothing there to take.
    sockaddr_in6 address6{};
    address6.sin6_family = AF_INET6;
    address6.sin6_addr.s6_addr[15] = 1;
    address6.sin6_port = htons(static_cast<uint16_t>(port));
    return probeBind(AF_INET6, reinterpret_cast<const sockaddr*>(&address6), sizeof address6) != Probe::taken;
}
