#include "socket_library.h"

#include <winsock2.h>

bool startSocketLibrary() {
    WSADATA data;
    if (WSAStartup(0x0102, &data) == 0) return true;
    return WSAStartup(0x0101, &data) == 0;
}

void stopSocketLibrary() { WSACleanup(); }
