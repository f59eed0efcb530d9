#include "launcher_hook.h"

#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "common/commands.h"
#include "common/front_end.h"
#include "common/launch_state.h"

namespace {

// The reply must outlive the request; the launch id does not change once the server runs, so
// one copy made at the first request serves them all.
char* launchIdReply() {
    static std::string reply = uniqueId;
    return reply.data();
}

}  // namespace

int launcherUrlHook(HandlerRequest* request) {
    if (!request || !request->path) return 1;
    const std::string exitText = "/exit?uniqueId=" + uniqueId;
    if (exitText == request->path) {
        std::thread(delayedExit).detach();
        return 0;
    }
    if (std::strcmp(request->path, "/uniqueId") == 0) {
        request->outBuffer = launchIdReply();
        return 0;
    }
    return 1;
}

void delayedExit() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    while (std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_until(deadline);
    deliverCommand(IDM_EXIT);
}
