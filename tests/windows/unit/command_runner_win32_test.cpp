#include "unpack/command_runner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "shell/status.h"
#include "win32_test_support.h"

namespace {

std::wstring fakeChild(const std::wstring& steps) {
    return L"\"" + (testProgramFolder() / L"fake_child.exe").native() + L"\" " + steps;
}

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

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
    EXPECT_TRUE(runWithProgress(fakeChild(L"err \"  5%\" sleep 300 err \"\\b\\b\\b\\b 45%\" sleep 300 out \" 1% 100%\" sleep 300 exit 0")));
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
    EXPECT_TRUE(contains(lines, " ERROR: Command failed with exit code: 1024, exit code result: 0\n")) << lines;
}

TEST(CommandRunnerWin32, ChildOutlivingTheWaitIsReportedStillActive) {
    LogMark mark;
    EXPECT_FALSE(runAndWaitWithin(fakeChild(L"sleep 3000 exit 0"), 200));
    EXPECT_TRUE(contains(mark.since(), " ERROR: Command failed with exit code: 259, exit code result: 1\n")) << mark.since();
}

TEST(CommandRunnerWin32, SystemErrorText) {
    EXPECT_EQ(systemErrorText(0), "");
    std::string notFound = systemErrorText(ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(notFound.empty());
    EXPECT_NE(notFound, systemErrorText(ERROR_ACCESS_DENIED));
}
