// The socket routines that BSD sockets and Windows Sockets spell alike, over the platform layer.

#include "net.h"
#include "net_system.h"

int netListen(std::uint32_t bindAddress, std::uint16_t port, int backlog, SocketHandle* socketOut,
              std::uint16_t* boundPortOut) {
    SocketHandle listener = netOpenListener();
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
