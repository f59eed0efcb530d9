#include "probe_socket.h"

#include <unistd.h>

void closeProbeSocket(ProbeSocket probe) { ::close(probe); }
