#pragma once
// Tree listings, log marks and a reset of the staging globals for the staging tests.

#include <grp.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/status.h"
#include "log/log.h"
#include "shell/start_sequence.h"  // stageNecessaryFiles: staging as the start runs it
#include "staging/copy_engine.h"
#include "staging/workspace.h"
#include "test_disc.h"

namespace staging_test {

namespace fs = std::filesystem;

// Names of every entry below folder, relative to it, sorted ("sub/file").
inline std::string listTree(const fs::path& folder) {
    std::vector<std::string> names;
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(folder, error);
         !error && it != fs::recursive_directory_iterator(); it.increment(error))
        names.push_back(fs::relative(it->path(), folder).generic_string() + (it->is_directory() ? "/" : ""));
    std::sort(names.begin(), names.end());
    std::string text;
    for (const auto& name : names) text += name + "\n";
    return text;
}

// Log lines written since a test began.
class LogMark {
public:
    LogMark() : start_(logText().size()) {}
    std::string added() const { return logText().substr(start_); }
    bool has(const std::string& line) const { return added().find(line) != std::string::npos; }

private:
    size_t start_;
};

// A second local user: the id of "nobody", which root can become.
constexpr uid_t OTHER_USER = 65534;

// Runs what in a child process as OTHER_USER; true when it could and what returned true.
inline bool asOtherUser(const std::function<bool()>& what) {
    pid_t child = ::fork();
    if (child == 0) {
        bool done =
            ::setgroups(0, nullptr) == 0 && ::setgid(OTHER_USER) == 0 && ::setuid(OTHER_USER) == 0 && what();
        ::_exit(done ? 0 : 1);
    }
    int status = 0;
    return child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

// Process-wide state back to how a fresh launcher starts.
inline void resetStagingGlobals() {
    keepRunning = true;
    copyOk = true;
    stageTextId = static_cast<uint16_t>(UiText::CopyingBrowser);
    uniqueId.clear();
    workspaceDir.clear();
    workspaceDataDir.clear();
    sourceRoot.clear();
    sourceDataDir.clear();
}

}  // namespace staging_test

// TMPDIR as it is now, and putting it back: tests point the workspace at folders of their own.
inline std::optional<std::string> currentTmpdir() {
    const char* tmp = std::getenv("TMPDIR");
    return tmp ? std::optional<std::string>(tmp) : std::nullopt;
}

inline void restoreTmpdir(const std::optional<std::string>& saved) {
    if (saved)
        ::setenv("TMPDIR", saved->c_str(), 1);
    else
        ::unsetenv("TMPDIR");
}
