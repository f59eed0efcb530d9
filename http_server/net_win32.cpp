// Windows Sockets. The host has started Windows Sockets before the server runs.

// Windows Sockets 2 before windows.h, which would otherwise bring in the old winsock.h.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

#include "net.h"
#include "net_system.h"

namespace {

SOCKET toSocket(SocketHandle handle) { return static_cast<SOCKET>(handle); }

// Sockets are inheritable by default; the launcher's child processes must not hold the port.
void prepareSocket(SOCKET socket) {
    SetHandleInformation(reinterpret_cast<HANDLE>(socket), HANDLE_FLAG_INHERIT, 0);
    u_long nonBlocking = 1;
    ioctlsocket(socket, FIONBIO, &nonBlocking);
}

}  // namespace

SocketHandle netOpenListener(bool ipv6) {
    SOCKET listener = socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM, 0);
    if (listener == INVALID_SOCKET) return -1;
    prepareSocket(listener);
    // Without it a program that asks to reuse addresses could bind the same port and take
    // connections meant for this one.
    BOOL exclusive = TRUE;
    setsockopt(listener, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&exclusive),
               sizeof exclusive);
    return static_cast<SocketHandle>(listener);
}

bool netFailedForNoAddress() {
    int error = WSAGetLastError();
    return error == WSAEAFNOSUPPORT || error == WSAEADDRNOTAVAIL || error == WSAEPROTONOSUPPORT;
}

SocketHandle netAccept(SocketHandle listener, std::uint32_t* peerAddress) {
    sockaddr_storage address{};
    int length = sizeof address;
    SOCKET accepted = accept(toSocket(listener), reinterpret_cast<sockaddr*>(&address), &length);
    if (accepted == INVALID_SOCKET) return -1;
    prepareSocket(accepted);
    *peerAddress = peerAddressOf(address);
    return static_cast<SocketHandle>(accepted);
}

void netSetReceiveBuffer(SocketHandle socket, int bytes) {
    setsockopt(toSocket(socket), SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&bytes), sizeof bytes);
}

int netReceive(SocketHandle socket, char* buffer, int length) {
    if (length <= 0) return 0;
    int received = recv(toSocket(socket), buffer, length, 0);
    if (received >= 0) return received;
    return WSAGetLastError() == WSAEWOULDBLOCK ? NET_WOULD_BLOCK : -1;
}

int netSend(SocketHandle socket, const char* data, int length) {
    if (length <= 0) return 0;
    int sent = send(toSocket(socket), data, length, 0);
    if (sent >= 0) return sent;
    return WSAGetLastError() == WSAEWOULDBLOCK ? 0 : -1;
}

// TransmitFile would block the one server thread on a non-blocking socket: files are read and
// sent instead.
int netSendFile(SocketHandle, int, int) { return -1; }

void netClose(SocketHandle socket) {
    if (socket > 0) closesocket(toSocket(socket));
}

void netShutdownSend(SocketHandle socket) {
    if (socket > 0) shutdown(toSocket(socket), SD_SEND);
}

// A listening socket cannot be shut down here; the loop's one-second wait notices the stop.
void netInterrupt(SocketHandle) {}

bool netSocketAlive(SocketHandle socket) {
    int error = 0;
    int length = sizeof error;
    return getsockopt(toSocket(socket), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) == 0;
}

int netWait(NetWaitEntry* entries, int count, int timeoutMs) {
    fd_set readSet;
    fd_set writeSet;
    FD_ZERO(&readSet);
    FD_ZERO(&writeSet);
    u_int readCount = 0;
    u_int writeCount = 0;
    for (int i = 0; i < count; ++i) {
        entries[i].readable = entries[i].writable = false;
        if (entries[i].wantRead && readCount < FD_SETSIZE) {
            FD_SET(toSocket(entries[i].socket), &readSet);
            ++readCount;
        }
        if (entries[i].wantWrite && writeCount < FD_SETSIZE) {
            FD_SET(toSocket(entries[i].socket), &writeSet);
            ++writeCount;
        }
    }
    timeval timeout{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    int result =
        select(0, readCount ? &readSet : nullptr, writeCount ? &writeSet : nullptr, nullptr, &timeout);
    if (result == SOCKET_ERROR) return -1;
    if (result == 0) return 0;
    int ready = 0;
    for (int i = 0; i < count; ++i) {
        entries[i].readable = entries[i].wantRead && FD_ISSET(toSocket(entries[i].socket), &readSet);
        entries[i].writable = entries[i].wantWrite && FD_ISSET(toSocket(entries[i].socket), &writeSet);
        if (entries[i].readable || entries[i].writable) ++ready;
    }
    return ready;
}

std::uint32_t netTickMs() { return GetTickCount(); }

void netSleepMs(int milliseconds) { Sleep(static_cast<DWORD>(milliseconds)); }
