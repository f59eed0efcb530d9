// The command runners with real child processes: small shell scripts stand in for the
// extractor, in a folder whose path has blanks and non-ASCII characters.

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "common/status.h"
#include "log/ansi_text.h"
#include "unpack/command_runner.h"
#include "unpack_test_helpers.h"

using namespace unpack_test;
namespace fs = std::filesystem;

namespace {

int openDescriptors() {
    int count = 0;
    for (int fd = 0; fd < 1024; ++fd)
        if (fcntl(fd, F_GETFD) != -1) ++count;
    return count;
}

bool childrenLeft() {
    int status;
    return !(waitpid(-1, &status, WNOHANG) == -1 && errno == ECHILD);
}

// Runs body with the test's own standard streams on a file and standard input on a pipe that
// holds a line; returns what reached the standard streams.
template <typename Body>
std::string withRedirectedStreams(const fs::path& file, Body body) {
    fflush(stdout);
    fflush(stderr);
    const int savedIn = dup(STDIN_FILENO), savedOut = dup(STDOUT_FILENO), savedErr = dup(STDERR_FILENO);
    int input[2];
    EXPECT_EQ(pipe(input), 0);
    EXPECT_EQ(write(input[1], "a line\n", 7), 7);
    close(input[1]);  // a child that reads it finds the line, then the end, never waits
    const int sink = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(input[0], STDIN_FILENO);
    dup2(sink, STDOUT_FILENO);
    dup2(sink, STDERR_FILENO);
    body();
    dup2(savedIn, STDIN_FILENO);
    dup2(savedOut, STDOUT_FILENO);
    dup2(savedErr, STDERR_FILENO);
    for (int fd : {savedIn, savedOut, savedErr, input[0], sink}) close(fd);
    return readFileBytes(file);
}

// A command line that runs the script: its path quoted, since it holds blanks.
std::wstring commandFor(const fs::path& script, const std::string& arguments = "") {
    return ansiToWide("\"" + script.string() + "\"" + (arguments.empty() ? "" : " " + arguments));
}

class Runner : public ::testing::Test {
protected:
    void SetUp() override {
        recordStatusTexts();
        uiLanguage = 9;
        stageTextId = static_cast<uint16_t>(UiText::CopyingBrowser);
        descriptorsBefore = openDescriptors();
        logStart = logText().size();
    }
    void TearDown() override {
        // A run's reader thread closes its end of the pipe as it ends, which on a busy machine can
        // come after the run has given up waiting for it; a descriptor never closed stays counted.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (openDescriptors() != descriptorsBefore && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_EQ(openDescriptors(), descriptorsBefore) << "a pipe or file was left open";
    }
    fs::path script(const std::string& name, const std::string& body) {
        fs::path file = folder.path / name;
        writeScript(file, body);
        return file;
    }
    std::vector<std::string> logLines() const { return logLinesSince(logStart); }

    TempFolder folder{"lumidra runner ž č"};
    int descriptorsBefore = 0;
    size_t logStart = 0;
};

TEST_F(Runner, CapturedRunShowsEachFigureFromStdoutAndStderrAndSucceeds) {
    const fs::path extractor = script("fake 7za",
                                      "printf 'Extracting archive: viewer.7z\\b\\b\\b\\b  5%%'\n"
                                      "sleep 0.3\n"
                                      "printf '\\b\\b\\b\\b 45%%' >&2\n"
                                      "sleep 0.3\n"
                                      "printf 'no figure in here'\n"
                                      "sleep 0.3\n"
                                      "printf '\\b\\b\\b\\b100%%'\n");
    bool succeeded = false;
    std::string leaked = withRedirectedStreams(folder.path / "streams.txt",
                                               [&] { succeeded = runWithProgress(commandFor(extractor)); });
    EXPECT_TRUE(succeeded);
    EXPECT_EQ(leaked, "");
    // A successful run logs nothing but its progress, and the status keeps the last figure.
    EXPECT_EQ(logLines(), (std::vector<std::string>{"INFO: Copy progress:   5%", "INFO: Copy progress:  45%",
                                                    "INFO: Copy progress: 100%"}));
    EXPECT_EQ(shownStatusTexts(), (std::vector<std::wstring>{L"Copying browser  5%", L"Copying browser 45%",
                                                             L"Copying browser100%"}));
    EXPECT_FALSE(childrenLeft());
}

TEST_F(Runner, OutputIsReadIn256ByteChunksThatAreNeverJoined) {
    // One write of 600 bytes: the reader sees 256 + 256 + 88 bytes, each with its own figure.
    std::string output =
        std::string(252, '.') + " 10%" + std::string(252, '.') + " 20%" + std::string(84, '.') + " 30%";
    writeFileBytes(folder.path / "output.bin", output);
    const fs::path extractor = script("chunky", "cat \"$(dirname \"$0\")/output.bin\"\n");
    EXPECT_TRUE(runWithProgress(commandFor(extractor)));
    EXPECT_EQ(logLines(), (std::vector<std::string>{"INFO: Copy progress:  10%", "INFO: Copy progress:  20%",
                                                    "INFO: Copy progress:  30%"}));
}

TEST_F(Runner, ALargeOutputIsDrainedWhileTheChildRuns) {
    // Far more than a pipe holds: a runner that stopped reading would wait for ever.
    const fs::path extractor =
        script("chatty",
               "i=0\n"
               "while [ $i -lt 4000 ]; do\n"
               "  printf '\\b\\b\\b\\b %2d%% %d - some/long/file/name.dcm\\n' $((i % 100)) $i\n"
               "  i=$((i + 1))\n"
               "done\n");
    EXPECT_TRUE(runWithProgress(commandFor(extractor)));
    std::vector<std::string> lines = logLines();
    EXPECT_GT(lines.size(), 10u);
    EXPECT_EQ(countLines(lines, "INFO: Copy progress: "), lines.size());
    EXPECT_FALSE(childrenLeft());
}

TEST_F(Runner, ExitCodeOneIsAFailureForBothRunners) {
    const fs::path extractor = script("warns", "echo 'WARNING: some files were skipped'\nexit 1\n");
    EXPECT_FALSE(runWithProgress(commandFor(extractor)));
    std::vector<std::string> lines = logLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(countLines(lines, "ERROR: Last system error message: "), 1u);
    EXPECT_EQ(shownStatusTexts().back(), L"Copying browser - error occured. Retrying...");

    logStart = logText().size();
    EXPECT_FALSE(runAndWait(commandFor(extractor)));
    lines = logLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(countLines(lines, "ERROR: Last system error message: "), 1u);
    EXPECT_EQ(lines[1], "ERROR: Command failed with exit code: 1, exit code result: 1");
    EXPECT_FALSE(childrenLeft());
}

TEST_F(Runner, AChildKilledByASignalIsAFailure) {
    const fs::path extractor = script("killed", "kill -KILL $$\n");
    EXPECT_FALSE(runWithProgress(commandFor(extractor)));
    logStart = logText().size();
    EXPECT_FALSE(runAndWait(commandFor(extractor)));
    EXPECT_EQ(logLines().back(), "ERROR: Command failed with exit code: 137, exit code result: 1");
    EXPECT_FALSE(childrenLeft());
}

TEST_F(Runner, AMissingProgramGivesTheSystemsTextAndNoRetryStatus) {
    const std::string notFound =
        std::string("ERROR: Create process failed with code 2: ") + std::strerror(ENOENT);
    const std::wstring missing = commandFor(folder.path / "no such 7za", "x -y");
    EXPECT_FALSE(runWithProgress(missing));
    EXPECT_EQ(logLines(), std::vector<std::string>{notFound});
    EXPECT_TRUE(shownStatusTexts().empty());

    logStart = logText().size();
    EXPECT_FALSE(runAndWait(missing));
    EXPECT_EQ(logLines(), (std::vector<std::string>{
                              notFound, "ERROR: Command failed with exit code: 1024, exit code result: 0"}));

    logStart = logText().size();
    EXPECT_FALSE(runWithProgress(L"   "));
    EXPECT_EQ(logLines(), std::vector<std::string>{notFound});

    // A program that is there but may not be run.
    writeFileBytes(folder.path / "not runnable", "#!/bin/sh\nexit 0\n");
    logStart = logText().size();
    EXPECT_FALSE(runWithProgress(commandFor(folder.path / "not runnable")));
    EXPECT_EQ(logLines(), std::vector<std::string>{"ERROR: Create process failed with code 13: " +
                                                   std::string(std::strerror(EACCES))});
    EXPECT_FALSE(childrenLeft());
}

TEST_F(Runner, ArgumentsReachTheChildAsSevenZipReadsThem) {
    const fs::path extractor = script(
        "args 7za", "for a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"$(dirname \"$0\")/args.txt\"\n");
    const std::string folderText = folder.path.string();
    const std::string arguments =
        "x -bsp2 -y -o\"" + folderText + "/out put\\\" \"" + folderText + "/vie wer.7z\"";
    const std::string expected =
        "x\n-bsp2\n-y\n-o" + folderText + "/out put\\\n" + folderText + "/vie wer.7z\n";
    EXPECT_TRUE(runWithProgress(commandFor(extractor, arguments)));
    EXPECT_EQ(readFileBytes(folder.path / "args.txt"), expected);
    fs::remove(folder.path / "args.txt");
    EXPECT_TRUE(runAndWait(commandFor(extractor, arguments)));
    EXPECT_EQ(readFileBytes(folder.path / "args.txt"), expected);
}

TEST_F(Runner, RelativeProgramsComeFromTheCurrentDirectoryBareNamesFromPath) {
    script("BIN/7za", "exit 0\n");
    const fs::path saved = fs::current_path();
    fs::current_path(folder.path);
    EXPECT_TRUE(runWithProgress(L"BIN/7za x"));
    EXPECT_TRUE(runAndWait(L"BIN/7za x"));
    fs::current_path(saved);
    EXPECT_FALSE(runAndWait(L"BIN/7za x"));  // not there from the original directory

    EXPECT_TRUE(runAndWait(L"sh -c \"exit 0\""));
    EXPECT_FALSE(runAndWait(L"sh -c \"exit 3\""));
    EXPECT_EQ(logLines().back(), "ERROR: Command failed with exit code: 3, exit code result: 1");
}

TEST_F(Runner, UncapturedOutputGoesNowhereAndStandardInputIsEmpty) {
    // Exits 1 if it could read the test's standard input.
    const fs::path extractor =
        script("noisy", "echo LEAKED-OUT\necho LEAKED-ERR >&2\nread line && exit 1\nexit 0\n");
    bool waited = false, captured = false;
    std::string leaked = withRedirectedStreams(folder.path / "streams.txt", [&] {
        waited = runAndWait(commandFor(extractor));
        captured = runWithProgress(commandFor(extractor));
    });
    EXPECT_TRUE(waited);
    EXPECT_TRUE(captured);
    EXPECT_EQ(leaked, "");
}

TEST_F(Runner, RunAndWaitLeavesAChildThatOutlastsTheLimitRunningAndStillReapsIt) {
    const fs::path pidFile = folder.path / "pid.txt";
    const fs::path extractor = script("slow", "echo $$ > \"$(dirname \"$0\")/pid.txt\"\nexec sleep 30\n");
    EXPECT_FALSE(runAndWaitWithin(commandFor(extractor), 300));
    std::vector<std::string> lines = logLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(countLines(lines, "ERROR: Last system error message: "), 1u);
    EXPECT_EQ(lines[1], "ERROR: Command failed with exit code: 259, exit code result: 1");

    std::string pidText;
    for (int i = 0; i < 100 && pidText.empty(); ++i) {
        if (fs::exists(pidFile)) pidText = readFileBytes(pidFile);
        if (pidText.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    const pid_t child = static_cast<pid_t>(std::stol(pidText));
    EXPECT_EQ(kill(child, 0), 0) << "the child should still run";
    kill(child, SIGKILL);
    // Once it has ended, the launcher reaps it: the process id is gone, not left a zombie.
    bool gone = false;
    for (int i = 0; i < 200 && !gone; ++i) {
        gone = kill(child, 0) == -1 && errno == ESRCH;
        if (!gone) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_TRUE(gone);
}

}  // namespace
