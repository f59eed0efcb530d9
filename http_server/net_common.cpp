// The socket routines that BSD sockets and Windows Sockets spell alike, over the platform layer.

#include <cstring>

#include "net.h"
#include "net_system.h"

int netListen(std::uint32_t bindAddress, std::uint16_t port, int backlog, SocketHandle* socketOut,
              std::uint16_t* boundPortOut) {
    SocketHandle listener = netOpenListener(false);
    if (listener < 0) return -1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = bindAddress;
    address.sin_port = htons(port);
    if (bind(nativeSocket(listener), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(nativeSocket(listener), backlog < 1 ? 1 : backlog) != 0) {
        netClose(listener);
        return -1;
    }
    socklen_t length = sizeof address;
    if (getsockname(nativeSocket(listener), reinterpret_cast<sockaddr*>(&address), &length) == 0)
        *boundPortOut = ntohs(address.sin_port);
    else
        *boundPortOut = port;
    *socketOut = listener;
    return 0;
}

int netListenLoopback6(std::uint16_t port, int backlog, SocketHandle* socketOut) {
    SocketHandle listener = netOpenListener(true);
    if (listener < 0) return netFailedForNoAddress() ? NET_NO_IPV6 : -1;
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_addr.s6_addr[15] = 1;
    address.sin6_port = htons(port);
    if (bind(nativeSocket(listener), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        // Asked at once: closing the socket may change the error.
        int result = netFailedForNoAddress() ? NET_NO_IPV6 : -1;
        netClose(listener);
        return result;
    }
    if (listen(nativeSocket(listener), backlog < 1 ? 1 : backlog) != 0) {
        netClose(listener);
        return -1;
    }
    *socketOut = listener;
    return 0;
}

std::uint32_t peerAddressOf(const sockaddr_storage& peer) {
    if (peer.ss_family == AF_INET) return ntohl(reinterpret_cast<const sockaddr_in&>(peer).sin_addr.s_addr);
    if (peer.ss_family != AF_INET6) return 0;
    const unsigned char* bytes = reinterpret_cast<const sockaddr_in6&>(peer).sin6_addr.s6_addr;
    static const unsigned char LOOPBACK[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    static const unsigned char MAPPED[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
    if (std::memcmp(bytes, LOOPBACK, sizeof LOOPBACK) == 0) return 0x7f000001u;
    if (std::memcmp(bytes, MAPPED, sizeof MAPPED) != 0) return 0;
    return (std::uint32_t{bytes[12]} << 24) | (std::uint32_t{bytes[13]} << 16) |
           (std::uint32_t{bytes[14]} << 8) | bytes[15];
}

bool netSendAll(SocketHandle socket, const char* data, int length) {
    int stalls = 0;
    while (length > 0) {
        int sent = netSend(socket, data, length);
        if (sent < 0) return false;
        if (sent == 0) {
            if (++stalls > 3) return false;
            NetWaitEntry entry{socket, false, true, false, false};
            if (netWait(&entry, 1, 1000) < 0) return false;
            continue;
        }
        data += sent;
        length -= sent;
    }
    return true;
}

void netCloseConnection(SocketHandle socket) {
    if (socket <= 0) return;
    netShutdownSend(socket);
    char unread[4096];
    for (int reads = 0; reads < 16 && netReceive(socket, unread, sizeof unread) > 0; ++reads) {
    }
    netClose(socket);
}
