#include "serving/port_probe.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <gtest/gtest.h>

#include "common/socket_library.h"

namespace {

// A listening socket on the loopback address at a port the system picks.
SOCKET listenOnSomePort(int& port) {
    SOCKET listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = 0;
    if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener, 1) != 0) {
        ::closesocket(listener);
        return INVALID_SOCKET;
    }
    int length = sizeof address;
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
    return listener;
}

}  // namespace

TEST(PortProbeWin32, APortInUseCannotBeBoundAndIsFreeAgainAfterwards) {
    ASSERT_TRUE(startSocketLibrary());
    int port = 0;
    SOCKET listener = listenOnSomePort(port);
    ASSERT_NE(listener, INVALID_SOCKET);
    EXPECT_FALSE(portCanBeBound(port));
    ::closesocket(listener);
    EXPECT_TRUE(portCanBeBound(port));
    // The probe closes its own socket: probing twice in a row still finds the port free.
    EXPECT_TRUE(portCanBeBound(port));
    stopSocketLibrary();
}

TEST(PortProbeWin32, APortHeldOnIpv6LoopbackAloneIsTaken) {
    ASSERT_TRUE(startSocketLibrary());
    SOCKET listener = ::socket(AF_INET6, SOCK_STREAM, 0);
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_addr.s6_addr[15] = 1;
    bool held = listener != INVALID_SOCKET &&
                ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                ::listen(listener, 1) == 0;
    if (!held) {
        if (listener != INVALID_SOCKET) ::closesocket(listener);
        stopSocketLibrary();
        GTEST_SKIP() << "no IPv6 loopback here";
    }
    int length = sizeof address;
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    int port = ntohs(address.sin6_port);
    // Another program there would answer the browser's "localhost" in the viewer's place.
    EXPECT_FALSE(portCanBeBound(port));
    ::closesocket(listener);
    EXPECT_TRUE(portCanBeBound(port));
    stopSocketLibrary();
}
