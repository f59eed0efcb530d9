#include "serving/browser_launch.h"

#include <fcntl.h>
#include <sstream>
#include <thread>

#include "common/front_end.h"
#include "serving_test_support.h"

namespace fs = std::filesystem;

namespace {

using namespace std::chrono_literals;

// A browser stand-in that writes what it was given and where it runs to a file, atomically.
struct RecordingBrowser {
    ScratchFolder scratch;
    fs::path record = scratch.path / "record.txt";
    fs::path program = scratch.path / "browser.sh";

    RecordingBrowser() {
        writeText(program,
                  "#!/bin/sh\n"
                  "{ echo \"pid=$$\"; echo \"count=$#\"; printf 'arg=%s\\n' \"$1\";\n"
                  "  echo \"stdin=$(readlink /proc/$$/fd/0)\";\n"
                  "  echo \"fds=$(ls /proc/$$/fd | sort -n | tr '\\n' ' ')\"; } > \"$0.tmp\"\n"
                  "mv \"$0.tmp\" \"" +
                      record.string() + "\"\n");
        fs::permissions(program, fs::perms::owner_all);
    }

    std::string wait() {
        for (int i = 0; i < 500 && !fs::exists(record); ++i) std::this_thread::sleep_for(20ms);
        return readText(record);
    }
};

std::string field(const std::string& record, const std::string& name) {
    std::istringstream lines(record);
    std::string line;
    while (std::getline(lines, line))
        if (line.rfind(name + "=", 0) == 0) return line.substr(name.size() + 1);
    return "<missing>";
}

TEST(BrowserLaunch, TheBrowserVariableGetsTheAddressAsItsOneArgumentWithoutAShell) {
    RecordingBrowser browser;
    ASSERT_EQ(setenv("BROWSER", browser.program.c_str(), 1), 0);
    fs::path injected = browser.scratch.path / "injected";
    std::wstring address =
        L"http://localhost:8000/7z/index.html?uniqueId=a b&c;$(touch " + injected.wstring() + L")";
    openInBrowser(address);
    std::string record = browser.wait();
    EXPECT_EQ(field(record, "count"), "1");
    EXPECT_EQ(field(record, "arg"),
              "http://localhost:8000/7z/index.html?uniqueId=a b&c;$(touch " + injected.string() + ")");
    EXPECT_FALSE(fs::exists(injected));
}

TEST(BrowserLaunch, WithoutTheVariableXdgOpenIsAsked) {
    RecordingBrowser browser;
    fs::path bin = browser.scratch.path / "bin";
    fs::create_directories(bin);
    fs::copy_file(browser.program, bin / "xdg-open");
    ASSERT_EQ(unsetenv("BROWSER"), 0);
    std::string oldPath = getenv("PATH") ? getenv("PATH") : "";
    ASSERT_EQ(setenv("PATH", (bin.string() + ":" + oldPath).c_str(), 1), 0);
    openInBrowser(L"http://localhost:8001/7z/index.html?uniqueId=LUMIDRA_1");
    std::string record = browser.wait();
    setenv("PATH", oldPath.c_str(), 1);
    EXPECT_EQ(field(record, "arg"), "http://localhost:8001/7z/index.html?uniqueId=LUMIDRA_1");

    // An empty variable counts as unset.
    fs::remove(browser.record);
    ASSERT_EQ(setenv("BROWSER", "", 1), 0);
    ASSERT_EQ(setenv("PATH", (bin.string() + ":" + oldPath).c_str(), 1), 0);
    openInBrowser(L"http://localhost:8002/");
    record = browser.wait();
    setenv("PATH", oldPath.c_str(), 1);
    EXPECT_EQ(field(record, "arg"), "http://localhost:8002/");
}

TEST(BrowserLaunch, TheBrowserInheritsNothingOfTheLauncherAndIsReaped) {
    RecordingBrowser browser;
    ASSERT_EQ(setenv("BROWSER", browser.program.c_str(), 1), 0);
    // Descriptors the launcher holds without close-on-exec, as a socket of the server might;
    // numbered high so that the shell's and ls's own descriptors cannot be taken for them.
    int held[2];
    ASSERT_EQ(::pipe(held), 0);
    ASSERT_EQ(::dup2(held[0], 40), 40);
    ASSERT_EQ(::dup2(held[1], 41), 41);
    openInBrowser(L"http://localhost:8000/");
    std::string record = browser.wait();
    for (int fd : {held[0], held[1], 40, 41}) ::close(fd);

    EXPECT_EQ(field(record, "stdin"), "/dev/null");
    std::istringstream fds(field(record, "fds"));
    std::vector<int> seen;
    for (int fd; fds >> fd;) seen.push_back(fd);
    EXPECT_GE(seen.size(), 3u);
    for (int fd : seen) EXPECT_TRUE(fd != 40 && fd != 41) << "inherited " << fd;

    // Once it has ended nothing of it is left, not even a zombie.
    fs::path process = "/proc/" + field(record, "pid");
    for (int i = 0; i < 500 && fs::exists(process); ++i) std::this_thread::sleep_for(20ms);
    EXPECT_FALSE(fs::exists(process));
}

std::vector<std::string> toldTexts;
void recordTold(const std::string& text) { toldTexts.push_back(text); }

TEST(BrowserLaunch, TheAddressIsToldToThePersonEvenWhenNoBrowserStarts) {
    // A terminal without a desktop: no browser program at all.
    ASSERT_EQ(setenv("BROWSER", "/nonexistent/lumidra-browser", 1), 0);
    toldTexts.clear();
    FrontEnd frontEnd{};
    frontEnd.tellUser = recordTold;
    installFrontEnd(frontEnd);
    openInBrowser(L"http://localhost:8007/7z/index.html?uniqueId=LUMIDRA_2a");
    EXPECT_EQ(toldTexts,
              std::vector<std::string>{"Viewer: http://localhost:8007/7z/index.html?uniqueId=LUMIDRA_2a"});

    // A front end with nowhere to write text (the Win32 window) is simply not told.
    installFrontEnd(FrontEnd{});
    openInBrowser(L"http://localhost:8008/");
    EXPECT_EQ(toldTexts.size(), 1u);
}

}  // namespace
