// Terminate ends the extractor a runner is waiting for, and every one a runner would start
// afterwards, so that nothing writes into the workspace once it is being removed. stopCommands
// cannot be undone, so this test program holds this one case alone.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "unpack/command_runner.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

struct ScratchFolder {
  fs::path path;
  ScratchFolder() {
    std::string templ = (fs::temp_directory_path() / "lumidra-runner-stop-XXXXXX").string();
    if (mkdtemp(templ.data())) path = templ;
  }
  ~ScratchFolder() {
    std::error_code ignored;
    if (!path.empty()) fs::remove_all(path, ignored);
  }
};

fs::path writeScript(const fs::path& folder, const std::string& name, const std::string& body) {
  fs::path file = folder / name;
  std::ofstream(file) << "#!/bin/sh\n" << body;
  chmod(file.c_str(), 0755);
  return file;
}

std::wstring commandFor(const fs::path& script) { return L"/bin/sh " + script.wstring(); }

}  // namespace

TEST(StopCommands, EndsTheRunningChildAndEveryLaterOne) {
  ScratchFolder scratch;
  const fs::path& folder = scratch.path;
  ASSERT_FALSE(folder.empty());
  fs::path pidFile = folder / "child.pid";
  fs::path hanging = writeScript(folder, "hang.sh", "echo $$ > '" + pidFile.string() + "'\nexec sleep 60\n");

  for (bool captured : {true, false}) {
    SCOPED_TRACE(captured ? "runWithProgress" : "runAndWait");
    fs::remove(pidFile);
    if (!captured) stopCommands();  // the second round: a child started after the stop
    bool result = true;
    std::thread runner([&] { result = captured ? runWithProgress(commandFor(hanging)) : runAndWait(commandFor(hanging)); });
    if (captured) {
      auto waitedFrom = std::chrono::steady_clock::now();
      while (!fs::exists(pidFile) && std::chrono::steady_clock::now() - waitedFrom < 10s)
        std::this_thread::sleep_for(10ms);
      ASSERT_TRUE(fs::exists(pidFile));
      std::this_thread::sleep_for(300ms);  // the runner is polling its child now
      stopCommands();
    }
    auto stoppedAt = std::chrono::steady_clock::now();
    runner.join();
    EXPECT_FALSE(result);
    EXPECT_LT(std::chrono::steady_clock::now() - stoppedAt, 5s);
    // A child ended at once may not have written its number; one that did is gone.
    int pid = 0;
    if (fs::exists(pidFile)) std::ifstream(pidFile) >> pid;
    if (captured) {
      EXPECT_GT(pid, 0);
    }
    if (pid > 0) {
      EXPECT_NE(kill(pid, 0), 0) << "the child " << pid << " outlived the stop";
    }
  }

  // A command that would leave a file behind after a moment never gets that far.
  fs::path marker = folder / "written";
  fs::path slowWriter = writeScript(folder, "write.sh", "sleep 1\ntouch '" + marker.string() + "'\n");
  EXPECT_FALSE(runWithProgress(commandFor(slowWriter)));
  EXPECT_FALSE(runAndWait(commandFor(slowWriter)));
  std::this_thread::sleep_for(1500ms);
  EXPECT_FALSE(fs::exists(marker));
}
