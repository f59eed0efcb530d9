#include "unpack/command_runner.h"

// windows.h first: the other Windows headers build on its types.
#include <windows.h>

#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "common/status.h"
#include "staging/workspace.h"
#include "win32_test_support.h"

namespace {

std::wstring fakeChild(const std::wstring& steps) {
    return L"\"" + (testProgramFolder() / L"fake_child.exe").native() + L"\" " + steps;
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

size_t occurrences(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
    return count;
}

int runningFakeChildren() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return -1;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    int count = 0;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry))
        if (_wcsicmp(entry.szExeFile, L"fake_child.exe") == 0) ++count;
    CloseHandle(snapshot);
    return count;
}

}  // namespace

TEST(CommandRunnerWin32, ExitCodeDecidesBothRunners) {
    LogMark mark;
    EXPECT_TRUE(runWithProgress(fakeChild(L"exit 0")));
    EXPECT_TRUE(runAndWait(fakeChild(L"exit 0")));
    std::string successLines = mark.since();
    EXPECT_FALSE(contains(successLines, " ERROR: ")) << successLines;
    EXPECT_FALSE(contains(successLines, " WARN: ")) << successLines;

    // 7-Zip's warning exit code 1 is a failure too.
    LogMark failing;
    EXPECT_FALSE(runWithProgress(fakeChild(L"exit 1")));
    EXPECT_FALSE(runAndWait(fakeChild(L"exit 1")));
    std::string lines = failing.since();
    EXPECT_TRUE(contains(lines, " ERROR: Last system error message: ")) << lines;
    EXPECT_TRUE(contains(lines, " ERROR: Command failed with exit code: 1, exit code result: 1\n")) << lines;
}

TEST(CommandRunnerWin32, CapturedPercentagesBecomeStatusAndLogLines) {
    StatusCapture::install();
    stageTextId = static_cast<uint16_t>(UiText::CopyingBrowser);
    LogMark mark;
    // Each write is read as a chunk of its own, thanks to the pauses between them.
    EXPECT_TRUE(runWithProgress(fakeChild(
        L"err \"  5%\" sleep 300 err \"\\b\\b\\b\\b 45%\" sleep 300 out \" 1% 100%\" sleep 300 exit 0")));
    // The reader may handle its last chunk just after the runner returned.
    for (int i = 0; i < 40 && !contains(mark.since(), "100%"); ++i) Sleep(50);

    std::string lines = mark.since();
    // "  5%" has its '%' at position 3 of its chunk and shows nothing.
    EXPECT_FALSE(contains(lines, "Copy progress:   5%")) << lines;
    EXPECT_TRUE(contains(lines, " INFO: Copy progress:  45%\n")) << lines;
    // Only the last percentage of a chunk counts.
    EXPECT_TRUE(contains(lines, " INFO: Copy progress: 100%\n")) << lines;
    EXPECT_FALSE(contains(lines, "Copy progress:  1%")) << lines;

    std::vector<std::wstring> shown = StatusCapture::snapshot();
    EXPECT_NE(std::find(shown.begin(), shown.end(), L"Copying browser 45%"), shown.end());
    EXPECT_NE(std::find(shown.begin(), shown.end(), L"Copying browser100%"), shown.end());
    installFrontEnd(FrontEnd{});
}

TEST(CommandRunnerWin32, FailedCaptureShowsRetryNotice) {
    StatusCapture::install();
    stageTextId = static_cast<uint16_t>(UiText::CopyingData);
    EXPECT_FALSE(runWithProgress(fakeChild(L"exit 2")));
    std::vector<std::wstring> shown = StatusCapture::snapshot();
    ASSERT_FALSE(shown.empty());
    EXPECT_EQ(shown.back(), L"Copying data - error occured. Retrying...");
    stageTextId = static_cast<uint16_t>(UiText::CopyingBrowser);
    installFrontEnd(FrontEnd{});
}

TEST(CommandRunnerWin32, MissingProgramIsReportedWithTheSystemText) {
    LogMark mark;
    EXPECT_FALSE(runWithProgress(L"BIN\\no_such_extractor.exe x"));
    EXPECT_FALSE(runAndWait(L"BIN\\no_such_extractor.exe x"));
    std::string lines = mark.since();
    std::string expected = "Create process failed with code 3: " + systemErrorText(3);
    std::string alsoExpected = "Create process failed with code 2: " + systemErrorText(2);
    // A missing folder gives code 3, a missing file in an existing folder code 2.
    EXPECT_TRUE(contains(lines, expected) || contains(lines, alsoExpected)) << lines;
    EXPECT_TRUE(contains(lines, " ERROR: Command failed with exit code: 1024, exit code result: 0\n"))
        << lines;
}

TEST(CommandRunnerWin32, ChildOutlivingTheWaitIsReportedStillActive) {
    LogMark mark;
    EXPECT_FALSE(runAndWaitWithin(fakeChild(L"sleep 3000 exit 0"), 200));
    EXPECT_TRUE(contains(mark.since(), " ERROR: Command failed with exit code: 259, exit code result: 1\n"))
        << mark.since();
}

TEST(CommandRunnerWin32, SystemErrorText) {
    EXPECT_EQ(systemErrorText(0), "");
    std::string notFound = systemErrorText(ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(notFound.empty());
    EXPECT_NE(notFound, systemErrorText(ERROR_ACCESS_DENIED));
}

// Terminate while the extractor runs: each runner ends its child, lets the workspace go at once
// (the removal would otherwise wait three seconds for it), and no child starts afterwards.
TEST(CommandRunnerWin32, TerminateEndsTheChildAndLetsTheWorkspaceGo) {
    namespace fs = std::filesystem;
    ScratchFolder scratch(L"terminate");
    StatusCapture::install();
    for (bool captured : {true, false}) {
        SCOPED_TRACE(captured ? "runWithProgress" : "runAndWait");
        keepRunning = true;
        workspaceDir = scratch.path() / L"LUMIDRA_7e57";
        fs::create_directories(workspaceDir / L"DATA");
        const int before = runningFakeChildren();
        ASSERT_GE(before, 0);
        LogMark mark;
        std::atomic<bool> finished{false};
        bool result = true;
        const std::wstring command = fakeChild(L"sleep 30000 exit 0");
        std::thread runner([&] {
            result = captured ? runWithProgress(command) : runAndWait(command);
            finished = true;
        });
        for (int i = 0; i < 200 && runningFakeChildren() <= before; ++i) Sleep(50);
        EXPECT_EQ(runningFakeChildren(), before + 1);

        keepRunning = false;
        const DWORD from = GetTickCount();
        removeWorkspace();
        EXPECT_LT(GetTickCount() - from, 2500u) << "removal waited for a runner that kept its hold";
        for (int i = 0; i < 100 && !finished; ++i) Sleep(50);
        EXPECT_TRUE(finished) << "the runner went on waiting for its child";
        runner.join();
        EXPECT_FALSE(result);
        EXPECT_LE(runningFakeChildren(), before) << "the child outlived terminate";
        EXPECT_FALSE(fs::exists(scratch.path() / L"LUMIDRA_7e57"));
        const std::string lines = mark.since();
        EXPECT_EQ(occurrences(lines, " WARN: 7z stopped: terminating\n"), 1u) << lines;
        EXPECT_FALSE(contains(lines, " ERROR: ")) << lines;
    }

    const int before = runningFakeChildren();
    LogMark refused;
    EXPECT_FALSE(runWithProgress(fakeChild(L"sleep 30000 exit 0")));
    EXPECT_FALSE(runAndWait(fakeChild(L"sleep 30000 exit 0")));
    EXPECT_LE(runningFakeChildren(), before);
    EXPECT_EQ(occurrences(refused.since(), " WARN: 7z not started: terminating\n"), 2u) << refused.since();
    for (const std::wstring& text : StatusCapture::snapshot())
        EXPECT_EQ(text.find(L"Retrying"), std::wstring::npos);
    keepRunning = true;
    installFrontEnd(FrontEnd{});
}
