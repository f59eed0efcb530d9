#include "shell/window_commands.h"

#include <gtest/gtest.h>

#include "common/commands.h"

namespace {

int aboutShown = 0;
void countAbout() { ++aboutShown; }

TEST(WindowCommands, AboutShowsTheFrontEndsBoxAndOtherIdsAreLeftToTheFrontEnd) {
    aboutShown = 0;
    EXPECT_TRUE(runWindowCommand(IDM_ABOUT, countAbout));
    EXPECT_EQ(aboutShown, 1);

    // 107 lies among the window's commands but has no action.
    for (int id : {0, 103, 107, 109}) EXPECT_FALSE(runWindowCommand(id, countAbout)) << id;
    EXPECT_EQ(aboutShown, 1);
}

}  // namespace
