#pragma once
// The probe's socket, which BSD sockets and Windows Sockets spell alike but for its handle type
// and how it is closed.

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
using ProbeSocket = SOCKET;
constexpr ProbeSocket NO_PROBE_SOCKET = INVALID_SOCKET;
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
using ProbeSocket = int;
constexpr ProbeSocket NO_PROBE_SOCKET = -1;
#endif

// Closes the probe socket (platform).
void closeProbeSocket(ProbeSocket probe);

// True when the socket call that just failed did so because the system has no such address
// family or address (no IPv6), not because the port is taken (platform).
bool probeFailedForNoAddress();
