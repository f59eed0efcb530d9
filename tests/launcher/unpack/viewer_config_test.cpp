// The port fix in the unpacked viewer's configuration.

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>

#include "serving/port_probe.h"
#include "staging/workspace.h"
#include "unpack/viewer_config.h"
#include "unpack_test_helpers.h"

using namespace unpack_test;
namespace fs = std::filesystem;

namespace {

const std::string CONFIG =
    "{\n  \"server\": \"http://localhost:8000/\",\n  \"dicom\": \"http://localhost:8000/DICOM/\"\n}\n";

class ViewerConfig : public ::testing::Test {
protected:
    void SetUp() override {
        workspaceDir = folder.path / "LUMIDRA_abc";
        configFile = workspaceDir / "DATA" / "7z" / "data" / "config" / "config-lumidra.json";
        savedPort = chosenPort;
        logStart = logText().size();
    }
    void TearDown() override {
        chosenPort = savedPort;
        workspaceDir.clear();
    }
    std::vector<std::string> logLines() const { return logLinesSince(logStart); }

    TempFolder folder{"lumidra config ž"};
    fs::path configFile;
    int savedPort = 0;
    size_t logStart = 0;
};

TEST_F(ViewerConfig, PortAbove8000RewritesOnlyTheFirstAddress) {
    writeFileBytes(configFile, CONFIG);
    chosenPort = 8005;
    EXPECT_TRUE(fixViewerConfigPort(viewerConfigFile(workspaceDir), chosenPort));
    EXPECT_EQ(
        readFileBytes(configFile),
        "{\n  \"server\": \"http://localhost:8005/\",\n  \"dicom\": \"http://localhost:8000/DICOM/\"\n}\n");
    EXPECT_EQ(logLines(), std::vector<std::string>{"INFO: Fixing config port number"});

    chosenPort = 8099;
    logStart = logText().size();
    EXPECT_TRUE(fixViewerConfigPort(viewerConfigFile(workspaceDir), chosenPort));
    EXPECT_EQ(
        readFileBytes(configFile),
        "{\n  \"server\": \"http://localhost:8005/\",\n  \"dicom\": \"http://localhost:8099/DICOM/\"\n}\n");
}

TEST_F(ViewerConfig, Port8000LeavesEverythingAlone) {
    for (int port : {8000, 0, -1}) {
        chosenPort = port;
        EXPECT_TRUE(fixViewerConfigPort(viewerConfigFile(workspaceDir), chosenPort))
            << port;  // no file at all: it is not even looked at
    }
    EXPECT_TRUE(logLines().empty());
}

TEST_F(ViewerConfig, AFileWithoutTheAddressIsUntouchedWithOneError) {
    const std::string other = "{ \"server\": \"http://127.0.0.1:8000/\", \"x\": \"LOCALHOST:8000\" }";
    writeFileBytes(configFile, other);
    const auto modified = fs::last_write_time(configFile);
    chosenPort = 8042;
    EXPECT_TRUE(fixViewerConfigPort(viewerConfigFile(workspaceDir), chosenPort));
    EXPECT_EQ(readFileBytes(configFile), other);
    EXPECT_EQ(fs::last_write_time(configFile), modified);
    EXPECT_EQ(logLines(), (std::vector<std::string>{"INFO: Fixing config port number",
                                                    "ERROR: Port in config not found"}));
}

TEST_F(ViewerConfig, MissingOrEmptyFileFails) {
    chosenPort = 8001;
    EXPECT_FALSE(fixViewerConfigPort(viewerConfigFile(workspaceDir), chosenPort));
    EXPECT_EQ(logLines(),
              (std::vector<std::string>{"INFO: Fixing config port number", "ERROR: Cannot read config file",
                                        "ERROR: Config content not loaded"}));
    writeFileBytes(configFile, "");
    logStart = logText().size();
    EXPECT_FALSE(fixViewerConfigPort(viewerConfigFile(workspaceDir), chosenPort));
    EXPECT_EQ(logLines(), (std::vector<std::string>{"INFO: Fixing config port number",
                                                    "ERROR: Config content not loaded"}));
    // A folder where the file should be cannot be read either.
    fs::remove(configFile);
    fs::create_directories(configFile);
    EXPECT_FALSE(fixViewerConfigPort(viewerConfigFile(workspaceDir), chosenPort));
}

TEST_F(ViewerConfig, BinaryContentKeepsEveryOtherByte) {
    std::string binary("\0\r\n\xff localhost:8000 \r\n\0 localhost:8000", 36);
    writeFileBytes(configFile, binary);
    chosenPort = 8017;
    EXPECT_TRUE(fixViewerConfigPort(viewerConfigFile(workspaceDir), chosenPort));
    std::string expected = binary;
    expected.replace(expected.find("localhost:8000"), 14, "localhost:8017");
    EXPECT_EQ(readFileBytes(configFile), expected);
}

TEST_F(ViewerConfig, AFileThatCannotBeOpenedForWritingFails) {
    // A running program cannot be opened for writing, not even by root.
    fs::create_directories(configFile.parent_path());
    fs::copy_file("/bin/sleep", configFile);
    {
        std::ofstream append(configFile, std::ios::binary | std::ios::app);
        append << "localhost:8000";
    }
    fs::permissions(configFile, fs::perms::owner_all);
    const std::string before = readFileBytes(configFile);
    pid_t running = fork();
    ASSERT_GE(running, 0);
    if (running == 0) {
        execl(configFile.c_str(), "sleep", "20", static_cast<char*>(nullptr));
        _exit(127);
    }
    // Wait until the exec has happened: then the file refuses writers.
    bool busy = false;
    for (int i = 0; i < 200 && !busy; ++i) {
        int fd = open(configFile.c_str(), O_WRONLY);
        busy = fd < 0 && errno == ETXTBSY;
        if (fd >= 0) close(fd);
        if (!busy) usleep(10000);
    }
    if (busy) {
        chosenPort = 8003;
        EXPECT_FALSE(fixViewerConfigPort(viewerConfigFile(workspaceDir), chosenPort));
        EXPECT_EQ(logLines().back(), "ERROR: Cannot write config file");
        EXPECT_EQ(readFileBytes(configFile), before);
    }
    kill(running, SIGKILL);
    int status;
    waitpid(running, &status, 0);
    if (!busy) GTEST_SKIP() << "this system lets a running program be opened for writing";
}

TEST_F(ViewerConfig, AWriteThatFailsHalfWayIsReportedAsAFailure) {
    std::string large = "{\"server\": \"http://localhost:8000/\"}\n" + std::string(100000, ' ');
    writeFileBytes(configFile, large);
    chosenPort = 8009;
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 4096;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool fixed = fixViewerConfigPort(viewerConfigFile(workspaceDir), chosenPort);
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, SIG_DFL);
    EXPECT_FALSE(fixed);
    EXPECT_EQ(logLines().back(), "ERROR: Cannot write config file");
}

}  // namespace
