// The shared pieces of the command runner: reading progress out of output chunks, the log and
// status lines, and splitting a command line the way 7-Zip does.

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include "common/status.h"
#include "unpack/command_line.h"
#include "unpack/command_runner.h"
#include "unpack_test_helpers.h"

using namespace unpack_test;

namespace {

std::string figureOf(const std::string& chunk) { return progressFigure(chunk.data(), chunk.size()); }

TEST(ProgressFigure, TakesTheFourCharactersEndingWithTheLastPercent) {
    EXPECT_EQ(figureOf("Extracting archive: viewer.7z\b\b\b\b100%"), "100%");
    EXPECT_EQ(figureOf("\b\b\b\b 45%"), " 45%");
    EXPECT_EQ(figureOf("xx  5%"), "  5%");
    // Several figures in one chunk: only the last one counts.
    EXPECT_EQ(figureOf("\b\b\b\b  5%\b\b\b\b 45%\b\b\b\b 87% 12 - index.html"), " 87%");
    // The figure need not end the chunk.
    EXPECT_EQ(figureOf("ab 45% data/config"), " 45%");
    // A '%' at position 4 is the first that counts.
    EXPECT_EQ(figureOf("x 45%"), " 45%");
    // The four characters are taken as they are, whatever they hold.
    EXPECT_EQ(figureOf("ab 45% ..%"), " ..%");
}

TEST(ProgressFigure, IgnoresAPercentInTheFirstFourPositionsAndChunksWithout) {
    EXPECT_EQ(figureOf(" 45%"), "");
    EXPECT_EQ(figureOf("  0%\b\b\b\b    \b\b\b\b"), "");
    EXPECT_EQ(figureOf("%"), "");
    EXPECT_EQ(figureOf("Everything is Ok"), "");
    EXPECT_EQ(figureOf(""), "");
    EXPECT_EQ(progressFigure(nullptr, 0), "");
    // Bytes after the chunk's end are never read.
    const char longer[] = "abc 99%";
    EXPECT_EQ(progressFigure(longer, 5), "");
}

class ProgressChunk : public ::testing::Test {
protected:
    void SetUp() override {
        recordStatusTexts();
        uiLanguage = 9;
        stageTextId = static_cast<uint16_t>(UiText::CopyingBrowser);
        logStart = logText().size();
    }
    void TearDown() override {
        uiLanguage = 9;
        stageTextId = static_cast<uint16_t>(UiText::CopyingBrowser);
    }
    void handle(const std::string& chunk) { handleProgressChunk(chunk.data(), chunk.size()); }
    size_t logStart = 0;
};

TEST_F(ProgressChunk, ShowsTheFigureAfterTheStageTextAndLogsIt) {
    handle("Extracting\b\b\b\b100%");
    stageTextId = static_cast<uint16_t>(UiText::CopyingData);
    handle("\b\b\b\b 45%");
    EXPECT_EQ(shownStatusTexts(), (std::vector<std::wstring>{L"Copying browser100%", L"Copying data 45%"}));
    EXPECT_EQ(logLinesSince(logStart),
              (std::vector<std::string>{"INFO: Copy progress: 100%", "INFO: Copy progress:  45%"}));
}

TEST_F(ProgressChunk, FollowsTheUiLanguage) {
    uiLanguage = LANG_ID_CZECH;
    handle("....  7%");
    ASSERT_EQ(shownStatusTexts().size(), 1u);
    EXPECT_EQ(shownStatusTexts()[0], std::wstring(uiText(LANG_ID_CZECH, UiText::CopyingBrowser)) + L"  7%");
}

TEST_F(ProgressChunk, AChunkWithoutAFigureChangesNothing) {
    handle(" 45%");
    handle("Everything is Ok\n");
    EXPECT_TRUE(shownStatusTexts().empty());
    EXPECT_EQ(logText().size(), logStart);
}

TEST_F(ProgressChunk, RetryStatusAndErrorLines) {
    showRetryStatus();
    stageTextId = static_cast<uint16_t>(UiText::CopyingData);
    showRetryStatus();
    EXPECT_EQ(shownStatusTexts(), (std::vector<std::wstring>{L"Copying browser - error occured. Retrying...",
                                                             L"Copying data - error occured. Retrying..."}));
    logSystemError(CREATE_PROCESS_FAILED, ENOENT);
    logSystemError(LAST_SYSTEM_ERROR, 0);
    logCommandFailed(EXIT_CODE_STILL_ACTIVE, 1);
    EXPECT_EQ(logLinesSince(logStart),
              (std::vector<std::string>{
                  "ERROR: Create process failed with code 2: " + std::string(std::strerror(ENOENT)),
                  "ERROR: Last system error message: 0: ",
                  "ERROR: Command failed with exit code: 259, exit code result: 1"}));
}

TEST(SystemErrorText, IsTheSystemsTextAndEmptyForZero) {
    EXPECT_EQ(systemErrorText(0), "");
    EXPECT_EQ(systemErrorText(ENOENT), std::strerror(ENOENT));
    EXPECT_EQ(systemErrorText(EACCES), std::strerror(EACCES));
}

TEST(SplitCommandLine, QuotesGroupAndBackslashesStayOrdinary) {
    EXPECT_EQ(splitCommandLine(
                  "BIN/7za x -bsp2 -y -o\"/tmp/work space/DATA/7z/\" \"/media/disc/DATA/7z/viewer.7z\""),
              (std::vector<std::string>{"BIN/7za", "x", "-bsp2", "-y", "-o/tmp/work space/DATA/7z/",
                                        "/media/disc/DATA/7z/viewer.7z"}));
    // The Windows form: the trailing backslash before the closing quote is part of the folder.
    EXPECT_EQ(splitCommandLine("BIN\\7za.exe x -o\"C:\\T\\W\\\" \"D:\\\\data.zip\""),
              (std::vector<std::string>{"BIN\\7za.exe", "x", "-oC:\\T\\W\\", "D:\\\\data.zip"}));
    EXPECT_EQ(splitCommandLine("  a\t\tb  \"c d\"e\"f g\"  "),
              (std::vector<std::string>{"a", "b", "c def g"}));
    EXPECT_EQ(splitCommandLine("a \"\" b \"unclosed quote"),
              (std::vector<std::string>{"a", "b", "unclosed quote"}));
    EXPECT_TRUE(splitCommandLine("   ").empty());
    EXPECT_EQ(splitCommandLine("\"/opt/my tools/7zz\" x"),
              (std::vector<std::string>{"/opt/my tools/7zz", "x"}));
}

}  // namespace
