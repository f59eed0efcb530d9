#pragma once
// The system's socket headers and native handle type, for the socket code that BSD sockets and
// Windows Sockets spell alike.

#include "lumiserv.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
using NativeSocket = SOCKET;
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
using NativeSocket = int;
#endif

inline NativeSocket nativeSocket(SocketHandle handle) { return static_cast<NativeSocket>(handle); }

// The peer's IPv4 address in host order, as netAccept reports it.
std::uint32_t peerAddressOf(const sockaddr_storage& peer);
