#include "shell/log_export.h"
#include "shell/save_prompt.h"

#include <gtest/gtest.h>

#include <unistd.h>
#include <deque>
#include <fstream>
#include <regex>
#include <sstream>

namespace fs = std::filesystem;

namespace {

struct Scratch {
    Scratch() {
        path = fs::temp_directory_path() / ("log_export_test_" + std::to_string(getpid()) + "_" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(path);
        fs::create_directories(path);
    }
    ~Scratch() { fs::remove_all(path); }
    fs::path path;
};

std::string bytesOf(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
}

// Answers the questions from a script and keeps what was asked and told.
struct ScriptedPerson {
    std::deque<std::optional<std::string>> answers;
    std::vector<std::wstring> questions;
    std::vector<std::string> told;

    AskLine ask() {
        return [this](const std::wstring& question) -> std::optional<std::string> {
            questions.push_back(question);
            if (answers.empty()) return std::nullopt;
            auto answer = answers.front();
            answers.pop_front();
            return answer;
        };
    }
    TellLine tell() {
        return [this](const std::string& text) { told.push_back(text); };
    }
};

const std::wstring TITLE = L"Save Lumidra log as...";
const std::string NAME = "LumidraLog-2023-05-01-09-03-07.log";

TEST(LogExport, DefaultNameIsTheTimestampWithHyphens) {
    std::string name = defaultLogFileName();
    EXPECT_TRUE(std::regex_match(name, std::regex(R"(LumidraLog-\d{4}-\d\d-\d\d-\d\d-\d\d-\d\d\.log)")))
        << name;
}

TEST(LogExport, LinesEndInCarriageReturnAndLineFeed) {
    EXPECT_EQ(logFileContent(""), "");
    EXPECT_EQ(logFileContent("a\nb\n"), "a\r\nb\r\n");
    EXPECT_EQ(logFileContent("no end"), "no end");
    EXPECT_EQ(logFileContent("\n\n"), "\r\n\r\n");
}

TEST(LogExport, TheLogsOwnBytesAreWrittenWhateverTheCharacters) {
    Scratch scratch;
    // Czech, Greek and Chinese: characters far above U+00FF must not make the save fail.
    const std::string log =
        "2023-05-01 09:03:07.045 INFO: Tmp dir: /tmp/Kop\xc3\xadruji \xce\xa9 \xe4\xb8\xad\n"
        "2023-05-01 09:03:07.046 ERROR: second\n";
    fs::path file = scratch.path / "saved.log";
    ASSERT_EQ(writeLogFile(file, log), LogWriteResult::Written);
    EXPECT_EQ(bytesOf(file),
              "2023-05-01 09:03:07.045 INFO: Tmp dir: /tmp/Kop\xc3\xadruji \xce\xa9 \xe4\xb8\xad\r\n"
              "2023-05-01 09:03:07.046 ERROR: second\r\n");
}

TEST(LogExport, SavingReplacesTheOldContentAndAnEmptyLogGivesAnEmptyFile) {
    Scratch scratch;
    fs::path file = scratch.path / "old.log";
    std::ofstream(file) << "a much longer old content that must not survive\n";
    ASSERT_EQ(writeLogFile(file, "new\n"), LogWriteResult::Written);
    EXPECT_EQ(bytesOf(file), "new\r\n");
    ASSERT_EQ(writeLogFile(file, ""), LogWriteResult::Written);
    EXPECT_TRUE(fs::exists(file));
    EXPECT_EQ(fs::file_size(file), 0u);
}

TEST(LogExport, AFileThatCannotBeOpenedIsReported) {
    Scratch scratch;
    EXPECT_EQ(writeLogFile(scratch.path / "missing" / "x.log", "x\n"), LogWriteResult::CannotOpen);
    EXPECT_EQ(writeLogFile(scratch.path, "x\n"), LogWriteResult::CannotOpen);  // a folder
    EXPECT_EQ(writeLogFile(scratch.path / std::string(300, 'n'), "x\n"), LogWriteResult::CannotOpen);
}

TEST(LogExport, AWriteThatFailsIsReportedAsFailed) {
    if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full here";
    EXPECT_EQ(writeLogFile("/dev/full", "a line\n"), LogWriteResult::WriteFailed);
}

TEST(SavePrompt, EnterTakesTheProposedNameInTheFolder) {
    Scratch scratch;
    ScriptedPerson person;
    person.answers = {""};
    auto chosen = promptForLogFile(TITLE, NAME, scratch.path, person.ask(), person.tell());
    ASSERT_TRUE(chosen);
    EXPECT_EQ(*chosen, scratch.path / NAME);
    ASSERT_EQ(person.questions.size(), 1u);
    EXPECT_EQ(person.questions[0].rfind(TITLE, 0), 0u);
    EXPECT_NE(person.questions[0].find(L"LumidraLog-2023-05-01-09-03-07.log"), std::wstring::npos);
}

TEST(SavePrompt, TypedNamesAreRelativeToTheFolderAndGetTheDefaultExtension) {
    Scratch scratch;
    fs::create_directories(scratch.path / "sub");
    ScriptedPerson person;
    person.answers = {"  mine  ", "sub/other.txt", "~/home", (scratch.path / "abs").string()};
    auto ask = person.ask();
    auto tell = person.tell();
    EXPECT_EQ(promptForLogFile(TITLE, NAME, scratch.path, ask, tell), scratch.path / "mine.log");
    EXPECT_EQ(promptForLogFile(TITLE, NAME, scratch.path, ask, tell), scratch.path / "sub" / "other.txt");
    EXPECT_EQ(promptForLogFile(TITLE, NAME, scratch.path, ask, tell), scratch.path / "home.log");
    EXPECT_EQ(promptForLogFile(TITLE, NAME, scratch.path, ask, tell), scratch.path / "abs.log");
}

TEST(SavePrompt, AFolderThatDoesNotExistIsRefusedAndAskedAgain) {
    Scratch scratch;
    ScriptedPerson person;
    person.answers = {"nowhere/x.log", "here.log"};
    auto chosen = promptForLogFile(TITLE, NAME, scratch.path, person.ask(), person.tell());
    EXPECT_EQ(chosen, scratch.path / "here.log");
    EXPECT_EQ(person.questions.size(), 2u);
    bool refused = false;
    for (const std::string& line : person.told)
        refused = refused || line.find("does not exist") != std::string::npos;
    EXPECT_TRUE(refused);
}

TEST(SavePrompt, AFolderIsNoFileName) {
    Scratch scratch;
    fs::create_directories(scratch.path / "dir.log");
    ScriptedPerson person;
    person.answers = {"dir.log", "sub/", "file"};
    fs::create_directories(scratch.path / "sub");
    EXPECT_EQ(promptForLogFile(TITLE, NAME, scratch.path, person.ask(), person.tell()),
              scratch.path / "file.log");
    EXPECT_EQ(person.questions.size(), 3u);
}

TEST(SavePrompt, ReplacingAnExistingFileNeedsAYes) {
    Scratch scratch;
    std::ofstream(scratch.path / "old.log") << "old\n";
    ScriptedPerson person;
    person.answers = {"old.log", "n", "old.log", "ano"};
    EXPECT_EQ(promptForLogFile(TITLE, NAME, scratch.path, person.ask(), person.tell()),
              scratch.path / "old.log");
    ASSERT_EQ(person.questions.size(), 4u);
    EXPECT_NE(person.questions[1].find(L"already exists"), std::wstring::npos);
    EXPECT_EQ(person.questions[2].rfind(TITLE, 0), 0u);  // "n" goes back to the name
}

TEST(SavePrompt, CancelEscapeOrNoMoreInputCancel) {
    Scratch scratch;
    for (std::optional<std::string> answer :
         {std::optional<std::string>("cancel"), std::optional<std::string>("\033"),
          std::optional<std::string>("\033[A"), std::optional<std::string>()}) {
        ScriptedPerson person;
        person.answers = {answer, "never.log"};
        EXPECT_FALSE(promptForLogFile(TITLE, NAME, scratch.path, person.ask(), person.tell()));
        EXPECT_EQ(person.questions.size(), 1u);
    }
    // No answer to the replace question either.
    std::ofstream(scratch.path / "old.log") << "old\n";
    ScriptedPerson person;
    person.answers = {"old.log"};
    EXPECT_FALSE(promptForLogFile(TITLE, NAME, scratch.path, person.ask(), person.tell()));
}

}  // namespace
