#include "server_hosting.h"

#include <cstring>
#include <optional>

#include "common/launch_state.h"
#include "common/socket_library.h"
#include "common/status.h"
#include "log/ansi_text.h"
#include "log/log.h"
#include "serving/browser_launch.h"
#include "serving/server_root.h"

ServerConfig launcherServer{};
std::thread serverThread;

namespace {

UrlHandler launcherHandlers[] = {
    {"stats", statsHandler, nullptr, 0},
    {"cmd", hookHandler, nullptr, 0},
    {nullptr, nullptr, nullptr, 0},
};

int ignoreForm(const FormFieldList*) { return 0; }

// Far more than a browser on this machine needs to send a request.
constexpr int REQUEST_TIMEOUT_SECONDS = 10;

// False when the path cannot be given: a root cut short or with characters lost would name
// another folder, and the viewer would get nothing but 404s while the start looked good.
bool setRoot(char (&field)[256], const std::filesystem::path& folder) {
    std::optional<std::string> narrow = narrowFolderPath(folder);
    if (!narrow) {
        logError("Lumiserv document root cannot be named in the system code page: " + pathToAnsi(folder));
        return false;
    }
    if (narrow->size() >= sizeof field) {
        logError("Lumiserv document root too long: " + *narrow);
        return false;
    }
    std::memcpy(field, narrow->c_str(), narrow->size() + 1);
    return true;
}

// 127.0.0.1 in network byte order, whatever the host's order.
uint32_t loopbackAddress() {
    const unsigned char octets[4] = {127, 0, 0, 1};
    uint32_t address;
    std::memcpy(&address, octets, sizeof address);
    return address;
}

void serveUntilStopped() {
    logInfo("Lumiserv listen");
    runServer(&launcherServer);
}

}  // namespace

bool startLocalServer() {
    if (!keepRunning) return false;
    logInfo("Starting lumiserv...");

    ServerConfig prepared{};
    prepared.maxClients = 32;
    // [::1] too: "localhost" leads there first, and no other program may answer there.
    prepared.flags = SERVER_NO_ACCEPT_RANGES | SERVER_IPV6_LOOPBACK | SERVER_SECURITY_HEADERS;
    prepared.port = static_cast<uint16_t>(chosenPort);
    bool rootsFit =
        setRoot(prepared.documentRoot, workspaceDataDir) && setRoot(prepared.secondaryRoot, sourceDataDir);
    prepared.urlHandlers = launcherHandlers;
    // No upload writer: the viewer uploads nothing, and a request that tries is refused before
    // its data is parsed.
    prepared.onFormComplete = ignoreForm;
    prepared.expireTimeout = 15;
    prepared.requestTimeout = REQUEST_TIMEOUT_SECONDS;
    // The study is served to this machine's browser only, never to the network around it.
    prepared.bindAddress = loopbackAddress();
    if (!rootsFit) {
        logError("Lumiserv start failed!");
        return false;
    }

    startSocketLibrary();
    launcherServer = prepared;
    launcherServer.onFormComplete = ignoreForm;
    if (startServer(&launcherServer) != 0) {
        stopServer(&launcherServer);
        stopSocketLibrary();
        logError("Lumiserv start failed!");
        return false;
    }
    if (launcherServer.listenSocket6 == 0)
        logWarn("Lumiserv listens on 127.0.0.1 only: this system has no IPv6 loopback");
    serverThread = std::thread(serveUntilStopped);
    serverThread.detach();
    logInfo("Lumiserv started");
    return true;
}

void stopLocalServer() { stopServer(&launcherServer); }

std::wstring viewerAddress(int port, const std::string& id) {
    return L"http://localhost:" + std::to_wstring(port) + L"/7z/index.html?uniqueId=" + ansiToWide(id);
}

void openViewerInBrowser() {
    logInfo("Opening browser");
    openInBrowser(viewerAddress(chosenPort, uniqueId));
}
