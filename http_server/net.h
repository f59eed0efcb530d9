#pragma once
// The thin socket layer under the server: the few calls whose spelling differs between BSD
// sockets and Windows Sockets. Accepted and listening sockets are non-blocking, so that a slow
// client never stalls the one server thread.

#include <cstdint>

#include "lumiserv.h"

// Creates, binds (address in network order, port in host order) and listens. On success stores
// the socket and the bound port in the out parameters and returns 0; otherwise -1.
int netListen(std::uint32_t bindAddress, std::uint16_t port, int backlog, SocketHandle* socketOut,
              std::uint16_t* boundPortOut);

// What netListenLoopback6 returns when the system has no IPv6 loopback to listen on.
constexpr int NET_NO_IPV6 = -2;

// Listens on [::1] at port (host order): 0 with the socket stored; NET_NO_IPV6 when the system
// has no IPv6 (loopback); -1 when the port is taken there or the listen failed otherwise.
int netListenLoopback6(std::uint16_t port, int backlog, SocketHandle* socketOut);

// A new IPv4 (or IPv6) stream socket, prepared to listen (non-blocking, not inherited by child
// processes, its address not to be shared with another program), or -1. The listen calls bind
// it.
SocketHandle netOpenListener(bool ipv6);

// True when the socket call that just failed did so because the system lacks the address
// family or the address (no IPv6), not because the port is taken.
bool netFailedForNoAddress();

// Accepts one pending connection; returns the socket (<= 0 when none) and the peer's IPv4
// address in host order. The IPv6 loopback counts as 127.0.0.1: both are this machine.
SocketHandle netAccept(SocketHandle listener, std::uint32_t* peerAddress);

void netSetReceiveBuffer(SocketHandle socket, int bytes);

// The result of a socket call that would have had to wait: nothing to read, or no room to send.
constexpr int NET_WOULD_BLOCK = -2;

// > 0 bytes received; 0 the peer closed; -1 failure; NET_WOULD_BLOCK nothing to read yet.
int netReceive(SocketHandle socket, char* buffer, int length);

// >= 0 bytes sent (0 when the socket cannot take more now); -1 failure.
int netSend(SocketHandle socket, const char* data, int length);

// Sends up to length bytes of an open file from its current position, which moves past them,
// without copying them through the caller. > 0 bytes sent; 0 the file is at its end;
// NET_WOULD_BLOCK the socket takes nothing now; -1 the system cannot do it or it failed: the
// caller reads and sends instead, and so learns which side failed.
int netSendFile(SocketHandle socket, int file, int length);

// Sends every byte, waiting up to about a second per stall; for small headers and fixed pages.
bool netSendAll(SocketHandle socket, const char* data, int length);

void netClose(SocketHandle socket);

// Stops sending: the peer reads what was sent, then the end of the stream.
void netShutdownSend(SocketHandle socket);

// Ends a client's connection so that the client reads every byte sent and then an orderly end.
// Closing a socket whose input nobody read makes the system answer with a reset, which the client
// may see in place of the reply: the sending side is ended first, and what has arrived unread is
// read and dropped before the close.
void netCloseConnection(SocketHandle socket);

// Makes a wait on the listening socket return early, without releasing the handle.
void netInterrupt(SocketHandle listener);

// True when the socket still answers a query for its pending error.
bool netSocketAlive(SocketHandle socket);

struct NetWaitEntry {
    SocketHandle socket;
    bool wantRead;
    bool wantWrite;
    bool readable;  // results
    bool writable;
};

// Waits for readiness of the entries. Returns the number of ready entries, 0 on time-out, -1 when
// the wait itself failed.
int netWait(NetWaitEntry* entries, int count, int timeoutMs);

std::uint32_t netTickMs();
void netSleepMs(int milliseconds);
