#include "serving/server_hosting.h"

#include <cstring>
#include <thread>

#include "common/status.h"
#include "log/log.h"
#include "serving/launcher_hook.h"
#include "serving/port_probe.h"
#include "serving_test_support.h"
#include "staging/workspace.h"

namespace fs = std::filesystem;

namespace {

using namespace std::chrono_literals;

// Where the current test's log lines begin.
size_t logMark = 0;

bool logHas(const std::string& line) { return logText().find(line, logMark) != std::string::npos; }

// A workspace DATA folder and a disc DATA folder with files in one, the other, or both.
struct TwoRoots {
    ScratchFolder scratch;
    TwoRoots() {
        workspaceDataDir = scratch.path / "workspace" / "DATA";
        sourceDataDir = scratch.path / "disc" / "DATA";
        writeText(workspaceDataDir / "only-here.txt", "from the workspace");
        writeText(sourceDataDir / "only-there.txt", "from the disc");
        writeText(workspaceDataDir / "both.txt", "workspace copy");
        writeText(sourceDataDir / "both.txt", "disc copy");
        uniqueId = "LUMIDRA_c0ffee";
        keepRunning = true;
        logMark = logText().size();
    }
};

TEST(ServerHosting, TheLauncherServerServesBothRootsOnLoopbackWithItsSettings) {
    TwoRoots roots;
    ASSERT_TRUE(findFreePort());
    ASSERT_TRUE(startLocalServer());
    EXPECT_TRUE(logHas(" INFO: Starting lumiserv...\n"));
    EXPECT_TRUE(logHas(" INFO: Lumiserv started\n"));

    EXPECT_EQ(launcherServer.maxClients, 32);
    EXPECT_EQ(launcherServer.flags, SERVER_NO_ACCEPT_RANGES | SERVER_IPV6_LOOPBACK | SERVER_SECURITY_HEADERS);
    EXPECT_EQ(launcherServer.requestTimeout, 10);
    EXPECT_EQ(launcherServer.port, chosenPort);
    EXPECT_EQ(launcherServer.expireTimeout, 15);
    EXPECT_STREQ(launcherServer.documentRoot, workspaceDataDir.c_str());
    EXPECT_STREQ(launcherServer.secondaryRoot, sourceDataDir.c_str());
    const unsigned char loopback[4] = {127, 0, 0, 1};
    EXPECT_EQ(std::memcmp(&launcherServer.bindAddress, loopback, 4), 0);
    ASSERT_NE(launcherServer.urlHandlers, nullptr);
    EXPECT_STREQ(launcherServer.urlHandlers[0].prefix, "stats");
    EXPECT_EQ(launcherServer.urlHandlers[0].handler, statsHandler);
    EXPECT_STREQ(launcherServer.urlHandlers[1].prefix, "cmd");
    EXPECT_EQ(launcherServer.urlHandlers[1].handler, hookHandler);
    EXPECT_EQ(launcherServer.urlHandlers[2].prefix, nullptr);
    EXPECT_EQ(launcherServer.onUploadData, nullptr);
    ASSERT_NE(launcherServer.onFormComplete, nullptr);
    EXPECT_EQ(launcherServer.onFormComplete(nullptr), 0);
    EXPECT_EQ(launcherServer.authEntries, nullptr);
    EXPECT_EQ(launcherServer.maxClientsPerIp, 0);
    EXPECT_FALSE(serverThread.joinable());

    const int port = chosenPort;
    HttpReply here = httpExchange(port, "GET", "/only-here.txt");
    EXPECT_EQ(here.status, 200);
    EXPECT_EQ(here.body, "from the workspace");
    EXPECT_EQ(here.head.find("Accept-Ranges"), std::string::npos);
    EXPECT_NE(here.head.find("\r\nX-Frame-Options: DENY\r\n"), std::string::npos);
    // "localhost" leads the browser to [::1] first: the same server answers there.
    HttpReply here6 = httpExchange(port, "GET", "/only-here.txt", true);
    if (launcherServer.listenSocket6 != 0) {
        EXPECT_EQ(here6.body, "from the workspace");
        EXPECT_FALSE(logHas("127.0.0.1 only"));
    } else {
        EXPECT_TRUE(logHas(" WARN: Lumiserv listens on 127.0.0.1 only: this system has no IPv6 loopback\n"));
    }
    EXPECT_EQ(httpExchange(port, "GET", "/only-there.txt").body, "from the disc");
    EXPECT_EQ(httpExchange(port, "GET", "/both.txt").body, "workspace copy");
    EXPECT_EQ(httpExchange(port, "GET", "/nowhere.txt").status, 404);
    EXPECT_NE(httpExchange(port, "GET", "/stats").body.find("<ServerStats>"), std::string::npos);
    EXPECT_TRUE(logHas(" INFO: Lumiserv listen\n"));

    // The hook answers only once it is installed.
    EXPECT_EQ(httpExchange(port, "GET", "/cmd/uniqueId").status, 404);
    urlHook.store(launcherUrlHook);
    HttpReply id = httpExchange(port, "GET", "/cmd/uniqueId");
    EXPECT_EQ(id.status, 200);
    EXPECT_EQ(id.body, "LUMIDRA_c0ffee");
    EXPECT_NE(id.head.find("Content-Type: text/html"), std::string::npos);
    EXPECT_EQ(httpExchange(port, "GET", "/cmd/exit?uniqueId=LUMIDRA_c0ffee").status, 404);

    stopLocalServer();
    EXPECT_EQ(launcherServer.running, 0);
    EXPECT_FALSE(httpExchange(port, "GET", "/only-here.txt").connected);
}

TEST(ServerHosting, NoStartOnceTerminating) {
    TwoRoots roots;
    chosenPort = 8099;
    keepRunning = false;
    EXPECT_FALSE(startLocalServer());
    EXPECT_FALSE(logHas("Starting lumiserv..."));
    EXPECT_EQ(launcherServer.running, 0);
    stopLocalServer();  // nothing to stop: does nothing
}

TEST(ServerHosting, APortTakenSinceTheProbeFailsTheStart) {
    TwoRoots roots;
    ASSERT_TRUE(findFreePort());
    int taker = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(chosenPort));
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    ASSERT_EQ(::bind(taker, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(taker, 1), 0);

    EXPECT_FALSE(startLocalServer());
    ::close(taker);
    EXPECT_TRUE(logHas(" ERROR: Lumiserv start failed!\n"));
    EXPECT_FALSE(logHas("Lumiserv started"));
    EXPECT_EQ(launcherServer.running, 0);
}

TEST(ServerHosting, ARootTooLongForTheServerIsRefusedNotCut) {
    TwoRoots roots;
    // Cut at 255 characters this would name its parent folder, which does exist.
    fs::path parent = roots.scratch.path / std::string(200, 'p');
    fs::create_directories(parent);
    workspaceDataDir = parent / std::string(100, 'd');
    ASSERT_GT(workspaceDataDir.native().size(), 255u);
    chosenPort = 8099;
    EXPECT_FALSE(startLocalServer());
    EXPECT_TRUE(logHas(" ERROR: Lumiserv document root too long: "));
    EXPECT_TRUE(logHas(" ERROR: Lumiserv start failed!\n"));
    EXPECT_EQ(launcherServer.running, 0);
}

TEST(ServerHosting, TheViewerAddressCarriesPortAndLaunchIdUnescaped) {
    EXPECT_EQ(viewerAddress(8000, "LUMIDRA_0"), L"http://localhost:8000/7z/index.html?uniqueId=LUMIDRA_0");
    EXPECT_EQ(viewerAddress(8042, "LUMIDRA_ffffffffffffffff"),
              L"http://localhost:8042/7z/index.html?uniqueId=LUMIDRA_ffffffffffffffff");
}

TEST(ServerHosting, OpeningTheViewerCallsTheBrowserWithTheAddress) {
    ScratchFolder scratch;
    logMark = logText().size();
    fs::path record = scratch.path / "called.txt";
    fs::path browser = scratch.path / "browser.sh";
    writeText(browser, "#!/bin/sh\nprintf '%s' \"$1\" > \"" + record.string() + ".tmp\"\nmv \"" +
                           record.string() + ".tmp\" \"" + record.string() + "\"\n");
    fs::permissions(browser, fs::perms::owner_all);
    ASSERT_EQ(setenv("BROWSER", browser.c_str(), 1), 0);
    chosenPort = 8000;
    uniqueId = "LUMIDRA_9a8b";

    openViewerInBrowser();
    EXPECT_TRUE(logHas(" INFO: Opening browser\n"));
    for (int i = 0; i < 500 && !fs::exists(record); ++i) std::this_thread::sleep_for(20ms);
    EXPECT_EQ(readText(record), "http://localhost:8000/7z/index.html?uniqueId=LUMIDRA_9a8b");
}

}  // namespace
