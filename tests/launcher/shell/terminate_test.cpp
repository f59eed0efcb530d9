#include "shell/terminate.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "common/front_end.h"
#include "common/status.h"
#include "log/ansi_text.h"
#include "log/log.h"
#include "serving/port_probe.h"
#include "serving/server_hosting.h"
#include "staging/workspace.h"

namespace fs = std::filesystem;

namespace {

// What the window was asked to do, in order.
std::mutex eventsLock;
std::vector<std::string> events;

void record(const std::string& event) {
    std::lock_guard<std::mutex> guard(eventsLock);
    events.push_back(event);
}

void installRecordingWindow() {
    keepRunning = true;
    events.clear();
    FrontEnd window{};
    window.setStatusText = [](const std::wstring& text) { record("status " + wideToAnsi(text)); };
    window.enableTerminateButton = [](bool enabled) { record(enabled ? "button on" : "button off"); };
    window.deliverCommand = [](int id) { record("command " + std::to_string(id)); };
    window.closeWindow = [] { record("close"); };
    installFrontEnd(window);
}

bool accepts(int port) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool connected = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
}

struct Folder {
    fs::path path = fs::temp_directory_path() / ("terminate_test_" + std::to_string(getpid()));
    Folder() { fs::create_directories(path); }
    ~Folder() { fs::remove_all(path); }
};

TEST(Terminate, StopsTheServerRemovesTheWorkspaceAndClosesTheWindowInOrder) {
    installRecordingWindow();
    Folder scratch;
    workspaceDir = scratch.path / "LUMIDRA_1234";
    workspaceDataDir = workspaceDir / "DATA";
    sourceDataDir = scratch.path / "disc" / "DATA";
    fs::create_directories(workspaceDataDir / "DICOM");
    std::ofstream(workspaceDataDir / "DICOM" / "IM1") << "study";
    fs::create_directories(sourceDataDir);
    ASSERT_TRUE(findFreePort());
    ASSERT_TRUE(startLocalServer());
    ASSERT_TRUE(accepts(chosenPort));
    // The server thread's own line, so that it does not land among terminate's.
    for (int i = 0; i < 500 && logText().find("Lumiserv listen") == std::string::npos; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::string logBefore = logText();

    terminateLauncher();

    EXPECT_FALSE(keepRunning.load());
    EXPECT_EQ(launcherServer.running, 0);
    EXPECT_FALSE(accepts(chosenPort));
    EXPECT_FALSE(fs::exists(scratch.path / "LUMIDRA_1234"));
    EXPECT_TRUE(workspaceDir.empty());
    EXPECT_TRUE(fs::exists(sourceDataDir));  // the disc is never touched
    EXPECT_EQ(events,
              (std::vector<std::string>{"button off", "status Removing temporary files...", "close"}));
    EXPECT_EQ(logText().substr(logBefore.size()).find(" INFO: "), std::string::npos)
        << "terminating logs nothing";
    EXPECT_EQ(logText().substr(logBefore.size()).find(" ERROR: "), std::string::npos);
}

TEST(Terminate, WithNothingStartedTheWindowStillCloses) {
    installRecordingWindow();
    uiLanguage = 5;
    terminateLauncher();
    EXPECT_FALSE(keepRunning.load());
    EXPECT_EQ(events, (std::vector<std::string>{"button off",
                                                "status Odstra\xc5\x88uji do\xc4\x8d"
                                                "asn\xc3\xa9 soubory...",
                                                "close"}));
    // A second request finds nothing left to do and closes again without failing.
    terminateLauncher();
    EXPECT_EQ(events.size(), 6u);
    EXPECT_EQ(events.back(), "close");
}

TEST(Terminate, AServerStartAfterTerminateIsRefused) {
    installRecordingWindow();
    terminateLauncher();
    EXPECT_FALSE(startLocalServer());
    EXPECT_EQ(launcherServer.running, 0);
}

}  // namespace
