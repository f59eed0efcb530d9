#include "serving/launcher_hook.h"

#include <cstring>
#include <string>
#include <vector>

#include "common/commands.h"
#include "serving_test_support.h"
#include "staging/workspace.h"

namespace {

using namespace std::chrono_literals;

const char* const LAUNCH_ID = "LUMIDRA_1f2e3d4c5b6a7988";

// What hookHandler hands the hook: the path after "cmd" and "OK" as the reply.
struct HookCall {
    explicit HookCall(const std::string& text) : path(text.begin(), text.end()) {
        path.push_back('\0');
        request.path = path.data();
        request.outBuffer = ok;
    }
    std::vector<char> path;
    char ok[3] = "OK";
    HandlerRequest request{};
};

class LauncherHook : public ::testing::Test {
protected:
    void SetUp() override {
        uniqueId = LAUNCH_ID;
        CommandRecorder::instance().install();
    }
};

TEST_F(LauncherHook, TheLaunchIdIsAnsweredWithACopyThatStaysValid) {
    HookCall first("/uniqueId");
    ASSERT_EQ(launcherUrlHook(&first.request), 0);
    ASSERT_NE(first.request.outBuffer, first.ok);
    EXPECT_STREQ(first.request.outBuffer, LAUNCH_ID);

    HookCall second("/uniqueId");
    ASSERT_EQ(launcherUrlHook(&second.request), 0);
    EXPECT_STREQ(second.request.outBuffer, LAUNCH_ID);
    // The first reply is still intact after the second request was answered.
    EXPECT_STREQ(first.request.outBuffer, LAUNCH_ID);
}

TEST_F(LauncherHook, OtherPathsAreDeclinedUntouched) {
    const std::string id = LAUNCH_ID;
    for (const std::string& path :
         {std::string("/uniqueId?x=1"), std::string("/uniqueid"), std::string("/uniqueId/"),
          std::string("uniqueId"), std::string("x/uniqueId"), std::string("/exit"),
          std::string("/exit?uniqueId="), "/exit?uniqueId=" + id + "x",
          "/exit?uniqueId=" + id.substr(0, id.size() - 1), "/EXIT?uniqueId=" + id, "/exit?uniqueid=" + id,
          "/exit?uniqueId= " + id, std::string(""), std::string("/other")}) {
        HookCall call(path);
        EXPECT_EQ(launcherUrlHook(&call.request), 1) << path;
        EXPECT_EQ(call.request.outBuffer, call.ok) << path;
    }
    HandlerRequest noPath{};
    EXPECT_EQ(launcherUrlHook(&noPath), 1);
    EXPECT_EQ(launcherUrlHook(nullptr), 1);
    // None of them asked the launcher to exit.
    EXPECT_TRUE(CommandRecorder::instance().waitFor(1, 1500ms).empty());
}

TEST_F(LauncherHook, TheRightExitRequestEndsTheLauncherASecondLater) {
    HookCall call(std::string("/exit?uniqueId=") + LAUNCH_ID);
    auto asked = std::chrono::steady_clock::now();
    ASSERT_EQ(launcherUrlHook(&call.request), 0);
    EXPECT_EQ(call.request.outBuffer, call.ok);  // the reply stays "OK"

    auto commands = CommandRecorder::instance().waitFor(1, 10s);
    ASSERT_EQ(commands.size(), 1u);
    EXPECT_EQ(commands[0].first, IDM_EXIT);
    EXPECT_GE(commands[0].second - asked, 1s);
    // One request, one exit command.
    EXPECT_EQ(CommandRecorder::instance().waitFor(2, 1500ms).size(), 1u);
}

}  // namespace
