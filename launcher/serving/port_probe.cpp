#include "port_probe.h"

#include <string>

#include "log/log.h"

namespace {

constexpr int FIRST_PORT = 8000;
constexpr int PORT_LIMIT = 8100;

}  // namespace

bool findFreePort() {
    chosenPort = FIRST_PORT;
    for (;;) {
        logInfo("Checking free port number: " + std::to_string(chosenPort));
        if (portCanBeBound(chosenPort)) {
            logInfo("Found free port number: " + std::to_string(chosenPort));
            return true;
        }
        if (++chosenPort >= PORT_LIMIT) {
            logError("No free port found");
            return false;
        }
    }
}
