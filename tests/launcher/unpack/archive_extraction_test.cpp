// Unpacking a test disc's archives with the machine's real 7-Zip, into a workspace and from a
// disc whose paths hold blanks and non-ASCII characters.

#include <gtest/gtest.h>

#include <cstdlib>

#include "common/status.h"
#include "log/ansi_text.h"
#include "staging/workspace.h"
#include "unpack/archive_extraction.h"
#include "unpack/command_runner.h"
#include "unpack/extractor.h"
#include "unpack_test_helpers.h"

using namespace unpack_test;
namespace fs = std::filesystem;

namespace {

TEST(ExtractorCommandLine, WindowsTemplatesAreExact) {
    EXPECT_EQ(dataCommandLine(L"BIN\\7za.exe", L'\\', L"C:\\T\\W", L"D:\\"),
              L"BIN\\7za.exe x -bsp2 -y -o\"C:\\T\\W\\\" \"D:\\\\data.zip\"");
    EXPECT_EQ(viewerCommandLine(L"BIN\\7za.exe", L'\\', L"C:\\T\\W\\DATA", L"E:\\disc"),
              L"BIN\\7za.exe x -bsp2 -y -o\"C:\\T\\W\\DATA\\7z\\\" \"E:\\disc\\DATA\\7z\\viewer.7z\"");
}

TEST(ExtractorCommandLine, PosixTemplatesUseSlashes) {
    EXPECT_EQ(viewerCommandLine(L"BIN/7za", L'/', L"/tmp/w s/DATA", L"/media/cd"),
              L"BIN/7za x -bsp2 -y -o\"/tmp/w s/DATA/7z/\" \"/media/cd/DATA/7z/viewer.7z\"");
    EXPECT_EQ(dataCommandLine(L"/usr/bin/7zz", L'/', L"/tmp/w", L"/"),
              L"/usr/bin/7zz x -bsp2 -y -o\"/tmp/w/\" \"//data.zip\"");
}

class Extraction : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(findSevenZip().empty()) << "the tests need 7-Zip (7zz, 7za or 7z) on PATH";
        recordStatusTexts();
        uiLanguage = 9;
        stageTextId = static_cast<uint16_t>(UiText::CopyingBrowser);
        savedDirectory = fs::current_path();
        const char* path = std::getenv("PATH");
        savedPath = path ? path : "";
        disc = root.path / "disc Ünïcode čšž";
        workspaceDir = root.path / "temp folder ž" / "LUMIDRA_5eed";
        workspaceDataDir = workspaceDir / "DATA";
        fs::create_directories(workspaceDataDir / "7z");
    }
    void TearDown() override {
        fs::current_path(savedDirectory);
        setenv("PATH", savedPath.c_str(), 1);
        workspaceDir.clear();
        stageTextId = static_cast<uint16_t>(UiText::CopyingBrowser);
    }
    // Builds the disc and makes it the current directory, as the launcher is started.
    void enterDisc(const TestDiscOptions& options) {
        buildTestDisc(disc, options);
        fs::current_path(disc);
        sourceRoot = disc;
        logStart = logText().size();
    }
    std::string viewerCommand(const std::string& program) const {
        return program + " x -bsp2 -y -o\"" + workspaceDataDir.string() + "/7z/\" \"" + disc.string() +
               "/DATA/7z/viewer.7z\"";
    }
    std::string dataCommand(const std::string& program) const {
        return program + " x -bsp2 -y -o\"" + workspaceDir.string() + "/\" \"" + disc.string() +
               "/data.zip\"";
    }
    std::vector<std::string> logLines() const { return logLinesSince(logStart); }

    TempFolder root{"lumidra extraction ěšč"};
    fs::path disc;
    fs::path savedDirectory;
    std::string savedPath;
    size_t logStart = 0;
};

void expectFiles(const fs::path& folder, const std::vector<TestDiscFile>& files) {
    for (const TestDiscFile& file : files) {
        ASSERT_TRUE(fs::exists(folder / file.path)) << (folder / file.path);
        EXPECT_EQ(readFileBytes(folder / file.path), file.content) << file.path;
    }
}

// Only progress lines may follow the attempt line of a first attempt that succeeds.
void expectCleanFirstAttempt(const std::vector<std::string>& lines, const std::vector<std::string>& head) {
    ASSERT_GE(lines.size(), head.size());
    EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + head.size()), head);
    for (size_t i = head.size(); i < lines.size(); ++i)
        EXPECT_EQ(lines[i].rfind("INFO: Copy progress: ", 0), 0u) << lines[i];
}

TEST_F(Extraction, TheDiscsOwnExtractorUnpacksBothArchivesAtTheFirstAttempt) {
    TestDiscOptions options;
    options.withExtractor = true;
    enterDisc(options);

    ASSERT_TRUE(extractViewer(workspacePaths()));
    expectCleanFirstAttempt(logLines(), {"INFO: Unzipping viewer...", "INFO: " + viewerCommand("BIN/7za"),
                                         "INFO: Browser unzip attempt 1"});
    expectFiles(workspaceDataDir / "7z", viewerArchiveFiles());

    stageTextId = static_cast<uint16_t>(UiText::CopyingData);
    logStart = logText().size();
    ASSERT_TRUE(extractData(workspacePaths()));
    expectCleanFirstAttempt(logLines(), {"INFO: Unzipping data...", "INFO: " + dataCommand("BIN/7za"),
                                         "INFO: Data unzip attempt 1"});
    expectFiles(workspaceDir, dataArchiveFiles());
    // Whatever progress was shown belongs to the stage under way.
    for (const std::wstring& text : shownStatusTexts())
        EXPECT_TRUE(text.rfind(L"Copying browser", 0) == 0 || text.rfind(L"Copying data", 0) == 0);
}

TEST_F(Extraction, WithoutBinSevenZipThe7ZipOnPathIsRunAndNamedInTheLog) {
    enterDisc({});
    ASSERT_TRUE(extractViewer(workspacePaths()));
    expectCleanFirstAttempt(logLines(),
                            {"INFO: Unzipping viewer...", "INFO: " + viewerCommand(findSevenZip().string()),
                             "INFO: Browser unzip attempt 1"});
    expectFiles(workspaceDataDir / "7z", viewerArchiveFiles());
}

TEST_F(Extraction, OnPath7zzComesBefore7zaBefore7zAndAFolderWithBlanksIsQuoted) {
    enterDisc({});
    const fs::path tools = root.path / "tools dir ž";
    writeScript(tools / "7z", "exit 1\n");
    // PATH holds only the tools folder now: the script uses nothing from it.
    writeScript(tools / "7za", "echo \"$@\" > \"${0%/*}/ran-7za.txt\"\n");
    writeFileBytes(tools / "7zz", "not executable, so not a candidate\n");
    setenv("PATH", ("/nonexistent:" + tools.string()).c_str(), 1);

    EXPECT_TRUE(extractViewer(workspacePaths()));
    const std::string program = "\"" + (tools / "7za").string() + "\"";
    EXPECT_EQ(logLines().at(1), "INFO: " + viewerCommand(program));
    EXPECT_EQ(readFileBytes(tools / "ran-7za.txt"), "x -bsp2 -y -o" + (workspaceDataDir / "7z").string() +
                                                        "/ " + (disc / "DATA" / "7z" / "viewer.7z").string() +
                                                        "\n");
}

TEST_F(Extraction, ACorruptArchiveFailsThreeTimesWithRetryStatus) {
    TestDiscOptions options;
    options.corruptData = true;
    options.withExtractor = true;
    enterDisc(options);
    stageTextId = static_cast<uint16_t>(UiText::CopyingData);

    EXPECT_FALSE(extractData(workspacePaths()));
    const std::vector<std::string> lines = logLines();
    ASSERT_GE(lines.size(), 5u);
    EXPECT_EQ(lines[1], "INFO: " + dataCommand("BIN/7za"));
    EXPECT_EQ(countLines(lines, "INFO: Data unzip attempt "), 3u);
    EXPECT_EQ(lines.back().rfind("ERROR: Command failed with exit code: ", 0), 0u) << lines.back();
    // Each attempt: the captured run fails (one line), then the plain run (two lines).
    for (int attempt = 1; attempt <= 3; ++attempt) {
        auto at =
            std::find(lines.begin(), lines.end(), "INFO: Data unzip attempt " + std::to_string(attempt));
        ASSERT_NE(at, lines.end());
        std::vector<std::string> errors;
        for (++at; at != lines.end() && at->rfind("INFO: Data unzip attempt ", 0) != 0; ++at)
            if (at->rfind("INFO: Copy progress: ", 0) != 0) errors.push_back(*at);
        ASSERT_EQ(errors.size(), 3u) << "attempt " << attempt;
        EXPECT_EQ(errors[0].rfind("ERROR: Last system error message: ", 0), 0u);
        EXPECT_EQ(errors[1].rfind("ERROR: Last system error message: ", 0), 0u);
        EXPECT_EQ(errors[2], "ERROR: Command failed with exit code: 2, exit code result: 1");
    }
    std::vector<std::wstring> shown = shownStatusTexts();
    EXPECT_EQ(std::count(shown.begin(), shown.end(), L"Copying data - error occured. Retrying..."), 3);
}

TEST_F(Extraction, NoExtractorAtAllGivesThreeAttemptsOfTwoCreateFailures) {
    enterDisc({});
    const TempFolder emptyFolder("lumidra empty path");
    setenv("PATH", emptyFolder.path.c_str(), 1);

    EXPECT_FALSE(extractViewer(workspacePaths()));
    const std::vector<std::string> lines = logLines();
    const std::string notFound = "ERROR: Create process failed with code 2: " + systemErrorText(2);
    const std::string failed = "ERROR: Command failed with exit code: 1024, exit code result: 0";
    std::vector<std::string> expected = {"INFO: Unzipping viewer...", "INFO: " + viewerCommand("BIN/7za")};
    for (int attempt = 1; attempt <= 3; ++attempt) {
        expected.push_back("INFO: Browser unzip attempt " + std::to_string(attempt));
        expected.insert(expected.end(), {notFound, notFound, failed});
    }
    EXPECT_EQ(lines, expected);
    EXPECT_TRUE(fs::is_empty(workspaceDataDir / "7z"));
}

TEST_F(Extraction, AFailedCapturedRunThatThePlainRunMendsCountsAsSuccess) {
    enterDisc({});
    // Fails when its output is a pipe (the captured run), succeeds otherwise.
    writeScript(disc / "BIN" / "7za", "if [ -p /dev/stdout ]; then exit 1; fi\nexit 0\n");

    EXPECT_TRUE(extractViewer(workspacePaths()));
    const std::vector<std::string> lines = logLines();
    EXPECT_EQ(countLines(lines, "INFO: Browser unzip attempt "), 1u);
    EXPECT_EQ(countLines(lines, "ERROR: Last system error message: "), 1u);
    EXPECT_EQ(countLines(lines, "ERROR: Command failed"), 0u);
    EXPECT_EQ(shownStatusTexts().back(), L"Copying browser - error occured. Retrying...");
}

}  // namespace
