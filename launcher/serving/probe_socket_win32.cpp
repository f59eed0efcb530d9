#include "probe_socket.h"

void closeProbeSocket(ProbeSocket probe) { ::closesocket(probe); }
