#include "serving/server_root.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "common/status.h"
#include "serving/server_hosting.h"
#include "staging/workspace.h"
#include "win32_test_support.h"

namespace fs = std::filesystem;

namespace {

// What the server does with a root: open a file below it by its narrow name.
std::string readThroughNarrowPath(const std::string& folder, const char* name) {
    std::string path = folder + "\\" + name;
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return "(cannot open " + path + ")";
    char buffer[64] = {};
    size_t got = std::fread(buffer, 1, sizeof buffer - 1, file);
    std::fclose(file);
    return std::string(buffer, got);
}

}  // namespace

TEST(ServerRootWin32, AFolderTheCodePageCannotHoldIsServedByItsShortName) {
    ASSERT_EQ(GetACP(), 1252u) << "the test expects a Western code page";
    ScratchFolder scratch(L"root");
    // "Временные" (Cyrillic): none of its letters is in code page 1252.
    fs::path folder = scratch.path() / L"\x0412\x0440\x0435\x043c\x0435\x043d\x043d\x044b\x0435" / L"DATA";
    fs::create_directories(folder);
    std::ofstream(folder / L"index.html") << "<html>viewer";
    LogMark log;

    std::optional<std::string> narrow = narrowFolderPath(folder);
    ASSERT_TRUE(narrow.has_value());
    EXPECT_EQ(narrow->find('?'), std::string::npos) << *narrow;
    EXPECT_EQ(readThroughNarrowPath(*narrow, "index.html"), "<html>viewer");
    EXPECT_NE(log.since().find(" INFO: Lumiserv serves a folder by its short name: " + *narrow + "\n"),
              std::string::npos)
        << log.since();

    // A name the code page holds (the e with acute accent is in 1252) is given as it is.
    fs::path western = scratch.path() / L"Caf\x00e9" / L"DATA";
    fs::create_directories(western);
    std::ofstream(western / L"index.html") << "<html>cafe";
    narrow = narrowFolderPath(western);
    ASSERT_TRUE(narrow.has_value());
    EXPECT_EQ(narrow->substr(narrow->size() - 10), "\\Caf\xe9\\DATA");
    EXPECT_EQ(readThroughNarrowPath(*narrow, "index.html"), "<html>cafe");
}

TEST(ServerRootWin32, WithoutAShortNameTheStartFailsWithAnErrorLine) {
    ScratchFolder scratch(L"noshort");
    // A folder that is not there has no short name either.
    fs::path folder = scratch.path() / L"\x4e34\x65f6" / L"DATA";
    EXPECT_FALSE(narrowFolderPath(folder).has_value());

    keepRunning = true;
    workspaceDataDir = folder;
    sourceDataDir = scratch.path();
    LogMark log;
    EXPECT_FALSE(startLocalServer());
    std::string lines = log.since();
    EXPECT_NE(lines.find(" ERROR: Lumiserv document root cannot be named in the "
                         "system code page: "),
              std::string::npos)
        << lines;
    EXPECT_NE(lines.find(" ERROR: Lumiserv start failed!\n"), std::string::npos) << lines;
    EXPECT_EQ(lines.find("Lumiserv started"), std::string::npos);
    workspaceDataDir.clear();
    sourceDataDir.clear();
}
