// lumidra_bench_host: the launcher's embedded server with the launcher's own settings
// (startLocalServer: 32 slots, no Accept-Ranges, workspace root then disc root, the "stats" and
// "cmd" handlers, 15-second expiry), without the staging and the window around it.
//
//   lumidra_bench_host <first root> <second root> [port]
//
// Prints "port <n>" once it listens and serves until SIGTERM or SIGINT. Port 0 (the default)
// lets the system choose.

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "common/status.h"
#include "serving/port_probe.h"
#include "serving/server_hosting.h"
#include "staging/workspace.h"

int main(int argc, char** argv) {
    if (argc < 3 || argc > 4) {
        std::fprintf(stderr, "usage: lumidra_bench_host <first root> <second root> [port]\n");
        return 2;
    }
    // Both signals are waited for below rather than handled.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    workspaceDataDir = std::filesystem::absolute(argv[1]);
    sourceDataDir = std::filesystem::absolute(argv[2]);
    chosenPort = argc == 4 ? std::atoi(argv[3]) : 0;
    keepRunning = true;
    if (!startLocalServer()) {
        std::fprintf(stderr, "the server did not start\n");
        return 1;
    }
    std::printf("port %d\n", static_cast<int>(launcherServer.port));
    std::fflush(stdout);

    int received = 0;
    sigwait(&stopSignals, &received);
    stopLocalServer();
    return 0;
}
