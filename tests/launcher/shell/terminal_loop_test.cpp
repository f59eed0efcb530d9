// The terminal front end's loop, on its own in this program: it installs signal handlers and
// the process-wide front end.

#include <poll.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>

#include "common/status.h"
#include "shell/terminal.h"
#include "staging/workspace.h"
#include "test_disc.h"

namespace fs = std::filesystem;

namespace {

int pollsMade = 0;

// The first wait is interrupted by a signal, as happens; the second fails for good.
int pollThatFails(pollfd*, nfds_t, int) {
    errno = ++pollsMade == 1 ? EINTR : ENOMEM;
    return -1;
}

TEST(TerminalLoop, AWaitThatFailsEndsThroughTerminateAndLeavesNoWorkspace) {
    TempFolder scratch("lumidra terminal loop ž");
    workspaceDir = scratch.path / "LUMIDRA_100p";
    workspaceDataDir = workspaceDir / "DATA";
    writeFileBytes(workspaceDataDir / "DICOM" / "I1.dcm", "patient image");
    keepRunning = true;
    terminalPoll = pollThatFails;

    ASSERT_TRUE(openTerminalWindow());
    EXPECT_EQ(runTerminalLoop(), 0);

    EXPECT_EQ(pollsMade, 2) << "an interrupted wait is simply made again";
    EXPECT_FALSE(keepRunning) << "the loop ended without terminate";
    EXPECT_FALSE(fs::exists(scratch.path / "LUMIDRA_100p")) << "the patient's study was left behind";
    EXPECT_TRUE(workspaceDir.empty());
}

}  // namespace
