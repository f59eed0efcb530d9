// Terminate while the extractor is still unpacking into the workspace: the runner ends its
// child, lets go of the workspace so that its removal need not wait, and no attempt follows.
// The fake extractor keeps writing files into the workspace for far longer than any case runs.
// Every case clears the process-wide keepRunning and sets it back when it ends.

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <future>
#include <thread>

#include "common/status.h"
#include "log/ansi_text.h"
#include "staging/workspace.h"
#include "unpack/archive_extraction.h"
#include "unpack/command_runner.h"
#include "unpack_test_helpers.h"

using namespace unpack_test;
namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

bool childrenLeft() {
    int status;
    return !(waitpid(-1, &status, WNOHANG) == -1 && errno == ECHILD);
}

// No process of that id at all: a zombie would still answer.
bool processGone(pid_t pid) { return kill(pid, 0) == -1 && errno == ESRCH; }

template <typename Condition>
bool waitFor(Condition condition, std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    while (!condition()) {
        if (Clock::now() >= deadline) return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

// Appends its process id to started.txt beside itself, shows a first figure, then, as 7-Zip
// does, makes the workspace's DATA folder if it is missing and writes a new file into it, every
// 50 ms for about 30 seconds. One process throughout: killing it stops every write.
const char* const WRITING_EXTRACTOR =
    "echo $$ >> \"$(dirname \"$0\")/started.txt\"\n"
    "exec python3 -c '\n"
    "import os, sys, time\n"
    "sys.stdout.write(\"Extracting    5%\")\n"
    "sys.stdout.flush()\n"
    "data = os.path.join(os.environ[\"WORKSPACE\"], \"DATA\")\n"
    "for i in range(600):\n"
    "    os.makedirs(data, exist_ok=True)\n"
    "    with open(os.path.join(data, \"file%d.dcm\" % i), \"w\") as out:\n"
    "        out.write(\"study data\")\n"
    "    time.sleep(0.05)\n"
    "'\n";

class TerminateDuringExtraction : public ::testing::Test {
protected:
    void SetUp() override {
        recordStatusTexts();
        uiLanguage = 9;
        stageTextId = static_cast<uint16_t>(UiText::CopyingBrowser);
        keepRunning = true;
        workspaceDir = folder.path / "LUMIDRA_7e57";
        workspaceDataDir = workspaceDir / "DATA";
        fs::create_directories(workspaceDataDir / "7z");
        setenv("WORKSPACE", workspaceDir.c_str(), 1);
        logStart = logText().size();
    }
    void TearDown() override {
        keepRunning = true;
        removeWorkspace();
        unsetenv("WORKSPACE");
    }
    fs::path script(const fs::path& file, const std::string& body) {
        writeScript(file, body);
        return file;
    }
    std::vector<pid_t> startedChildren(const fs::path& extractor) const {
        std::vector<pid_t> pids;
        const fs::path started = extractor.parent_path() / "started.txt";
        if (!fs::exists(started)) return pids;
        std::string text = readFileBytes(started);
        size_t at = 0;
        while (at < text.size()) {
            size_t end = text.find('\n', at);
            if (end == std::string::npos) end = text.size();
            if (end > at) pids.push_back(static_cast<pid_t>(std::stol(text.substr(at, end - at))));
            at = end + 1;
        }
        return pids;
    }
    bool extractorWriting() const {
        std::error_code error;
        return fs::exists(workspaceDataDir / "file2.dcm", error);
    }
    // What terminate does once it has cleared keepRunning: remove the workspace, which waits
    // for holders at most a few seconds. Returns how long the removal took.
    Clock::duration terminateAndRemove() {
        keepRunning = false;
        const auto from = Clock::now();
        removeWorkspace();
        return Clock::now() - from;
    }
    std::vector<std::string> logLines() const { return logLinesSince(logStart); }

    TempFolder folder{"lumidra terminate ž"};
    size_t logStart = 0;
};

// A hold that removal would wait for ends the wait long before the removal's own limit (three
// seconds); a runner that never let go would make the removal take all of it.
constexpr auto HOLD_RELEASED_WITHIN = 2500ms;

TEST_F(TerminateDuringExtraction, EachRunnerKillsAndReapsItsChildAndLetsTheWorkspaceGo) {
    const fs::path extractor = script(folder.path / "writing 7za", WRITING_EXTRACTOR);
    const std::wstring command = ansiToWide("\"" + extractor.string() + "\" x");
    for (bool captured : {true, false}) {
        SCOPED_TRACE(captured ? "runWithProgress" : "runAndWait");
        keepRunning = true;
        fs::remove(folder.path / "started.txt");
        workspaceDir = folder.path / "LUMIDRA_7e57";
        fs::create_directories(workspaceDataDir);
        recordStatusTexts();
        logStart = logText().size();

        auto run = std::async(std::launch::async,
                              [&] { return captured ? runWithProgress(command) : runAndWait(command); });
        ASSERT_TRUE(waitFor([&] { return extractorWriting(); }, 10s)) << "the fake extractor never wrote";
        const std::vector<pid_t> pids = startedChildren(extractor);
        ASSERT_EQ(pids.size(), 1u);

        EXPECT_LT(terminateAndRemove(), HOLD_RELEASED_WITHIN)
            << "removal waited for a runner that kept its hold";
        ASSERT_EQ(run.wait_for(5s), std::future_status::ready) << "the runner went on waiting for its child";
        EXPECT_FALSE(run.get());
        EXPECT_TRUE(processGone(pids[0])) << "the extractor " << pids[0] << " outlived terminate";
        EXPECT_FALSE(childrenLeft());

        // Nothing comes back after the removal.
        std::this_thread::sleep_for(300ms);
        EXPECT_FALSE(fs::exists(folder.path / "LUMIDRA_7e57"));
        // The status line keeps what terminate shows; no retry is announced.
        for (const std::wstring& text : shownStatusTexts())
            EXPECT_EQ(text.find(L"Retrying"), std::wstring::npos) << wideToAnsi(text);
        const std::vector<std::string> lines = logLines();
        EXPECT_EQ(countLines(lines, "WARN: 7z stopped: terminating"), 1u);
        EXPECT_EQ(countLines(lines, "ERROR: "), 0u);
    }
}

TEST_F(TerminateDuringExtraction, NoChildStartsOnceTerminateHasBegun) {
    const fs::path extractor = script(folder.path / "writing 7za", WRITING_EXTRACTOR);
    const std::wstring command = ansiToWide("\"" + extractor.string() + "\" x");
    keepRunning = false;
    EXPECT_FALSE(runWithProgress(command));
    EXPECT_FALSE(runAndWait(command));
    std::this_thread::sleep_for(300ms);
    EXPECT_TRUE(startedChildren(extractor).empty());
    EXPECT_FALSE(fs::exists(workspaceDataDir / "file0.dcm"));
    EXPECT_TRUE(shownStatusTexts().empty());
    EXPECT_EQ(logLines(), (std::vector<std::string>{"WARN: 7z not started: terminating",
                                                    "WARN: 7z not started: terminating"}));
    // Not a hold left behind either: removal goes ahead at once.
    EXPECT_LT(terminateAndRemove(), HOLD_RELEASED_WITHIN);
    EXPECT_FALSE(fs::exists(folder.path / "LUMIDRA_7e57"));
}

TEST_F(TerminateDuringExtraction, ExtractionMakesNoFurtherAttemptAfterTerminate) {
    // The disc's extractor, started from the disc's root as the launcher is.
    const fs::path disc = folder.path / "disc";
    const fs::path extractor = script(disc / "BIN" / "7za", WRITING_EXTRACTOR);
    const fs::path saved = fs::current_path();
    fs::current_path(disc);
    sourceRoot = disc;

    auto extraction = std::async(std::launch::async, [] { return extractViewer(workspacePaths()); });
    const bool writing = waitFor([&] { return extractorWriting(); }, 10s);
    EXPECT_LT(terminateAndRemove(), HOLD_RELEASED_WITHIN);
    const bool ended = extraction.wait_for(5s) == std::future_status::ready;
    fs::current_path(saved);
    ASSERT_TRUE(writing) << "the fake extractor never wrote";
    ASSERT_TRUE(ended) << "extraction went on after terminate";
    EXPECT_FALSE(extraction.get());

    // One attempt, one child, and that one gone.
    const std::vector<std::string> lines = logLines();
    EXPECT_EQ(countLines(lines, "INFO: Browser unzip attempt "), 1u);
    std::this_thread::sleep_for(300ms);
    const std::vector<pid_t> pids = startedChildren(extractor);
    ASSERT_EQ(pids.size(), 1u);
    EXPECT_TRUE(processGone(pids[0]));
    EXPECT_FALSE(childrenLeft());
    EXPECT_FALSE(fs::exists(folder.path / "LUMIDRA_7e57"));
    for (const std::wstring& text : shownStatusTexts())
        EXPECT_EQ(text.find(L"Retrying"), std::wstring::npos) << wideToAnsi(text);
}

}  // namespace

namespace {

// A child that outlives runAndWait's wait is reported as failed and left running, as before,
// but it stays held: removal waits for it, terminate ends it, and once it ends on its own the
// workspace is let go at once.
TEST_F(TerminateDuringExtraction, AChildLeftRunningAfterTheWaitStaysHeldUntilTerminateEndsIt) {
    const fs::path extractor = script(folder.path / "writing 7za", WRITING_EXTRACTOR);
    const std::wstring command = ansiToWide("\"" + extractor.string() + "\" x");

    EXPECT_FALSE(runAndWaitWithin(command, 300));
    EXPECT_EQ(countLines(logLines(), "ERROR: Command failed with exit code: 259, exit code result: 1"), 1u);
    const std::vector<pid_t> pids = startedChildren(extractor);
    ASSERT_EQ(pids.size(), 1u);
    EXPECT_FALSE(processGone(pids[0])) << "the child is left running until terminate";
    ASSERT_TRUE(waitFor([&] { return extractorWriting(); }, 10s)) << "the fake extractor never wrote";

    EXPECT_LT(terminateAndRemove(), HOLD_RELEASED_WITHIN) << "removal waited out a child nobody ended";
    EXPECT_TRUE(waitFor([&] { return processGone(pids[0]); }, 2s)) << "the extractor outlived terminate";
    // Nothing comes back after the removal.
    std::this_thread::sleep_for(300ms);
    EXPECT_FALSE(fs::exists(folder.path / "LUMIDRA_7e57")) << "the child wrote the workspace back";
    EXPECT_FALSE(childrenLeft());
}

TEST_F(TerminateDuringExtraction, AChildLeftRunningThatEndsByItselfLetsTheWorkspaceGo) {
    const fs::path extractor = script(folder.path / "slow 7za", "sleep 1\n");
    EXPECT_FALSE(runAndWaitWithin(ansiToWide("\"" + extractor.string() + "\""), 100));
    std::this_thread::sleep_for(1500ms);
    EXPECT_FALSE(childrenLeft()) << "the child was not reaped";
    EXPECT_LT(terminateAndRemove(), 500ms) << "the ended child still holds the workspace";
    EXPECT_FALSE(fs::exists(folder.path / "LUMIDRA_7e57"));
}

}  // namespace
