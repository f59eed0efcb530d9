// Terminate arriving while the viewer and the data are being staged. On Windows the worker's
// status update waits for the window's thread, which may be running terminate meanwhile; the
// front end here runs terminate's own steps inside the update to play that out.

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>

#include "common/front_end.h"
#include "log/ansi_text.h"
#include "serving/port_probe.h"
#include "staging_test_support.h"

namespace {

using namespace staging_test;

// The status text at which terminate runs; empty for none.
std::wstring terminateAt;

void terminateDuringStatus(const std::wstring& text) {
    if (text != terminateAt) return;
    keepRunning = false;
    removeWorkspace();
}

class StagingTerminate : public ::testing::Test {
protected:
    void SetUp() override {
        resetStagingGlobals();
        uiLanguage = 9;
        savedTmp = currentTmpdir();
        savedCwd = fs::current_path();
        savedPort = chosenPort;
        fs::create_directories(temp);
        ::setenv("TMPDIR", temp.c_str(), 1);
        installFrontEnd(FrontEnd{terminateDuringStatus, nullptr, nullptr});
    }
    void TearDown() override {
        installFrontEnd(FrontEnd{});
        terminateAt.clear();
        keepRunning = true;
        removeWorkspace();
        restoreTmpdir(savedTmp);
        fs::current_path(savedCwd);
        chosenPort = savedPort;
        resetStagingGlobals();
    }

    TempFolder scratch{"lumidra staging terminate ž"};
    fs::path temp = scratch.path / "temp";
    std::optional<std::string> savedTmp;
    fs::path savedCwd;
    int savedPort = 0;
};

TEST_F(StagingTerminate, StopsBeforeTheSkeletonAndBuildsNothingFromTheClearedPath) {
    // An empty disc: whatever staging made from a cleared path would land here.
    fs::path disc = scratch.path / "disc";
    fs::create_directories(disc);
    fs::current_path(disc);
    terminateAt = L"Copying browser";
    LogMark log;

    EXPECT_FALSE(createWorkspace() && stageNecessaryFiles());
    EXPECT_EQ(listTree(disc), "") << "folders made relative to the current directory";
    EXPECT_EQ(listTree(temp), "") << "the skeleton outlived the removal";
    EXPECT_TRUE(log.has(" WARN: Staging stopped: terminating\n")) << log.added();
    EXPECT_FALSE(log.has("Unzipping viewer...")) << log.added();
    EXPECT_FALSE(log.has(" ERROR: ")) << "terminate is not a failure\n" << log.added();
}

TEST_F(StagingTerminate, StopsBetweenTheTwoArchivesAndNeitherUnpacksNorFixesTheConfig) {
    fs::path disc = scratch.path / "disc";
    buildTestDisc(disc);
    fs::current_path(disc);
    chosenPort = 8042;
    terminateAt = L"Copying data";
    LogMark log;

    EXPECT_FALSE(createWorkspace() && stageNecessaryFiles());
    EXPECT_TRUE(log.has("Unzipping viewer...")) << log.added();
    // The data command would have named the cleared workspace: -o"/".
    EXPECT_FALSE(log.has("Unzipping data...")) << log.added();
    EXPECT_FALSE(log.has("Fixing config port number")) << log.added();
    EXPECT_TRUE(log.has(" WARN: Staging stopped: terminating\n")) << log.added();
    EXPECT_EQ(listTree(temp), "");
}

}  // namespace
