#include "browser_launch.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <thread>

#include "common/front_end.h"
#include "log/ansi_text.h"

extern char** environ;

namespace {

std::string browserProgram() {
    if (const char* browser = std::getenv("BROWSER"); browser && *browser) return browser;
#ifdef __APPLE__
    return "open";
#else
    return "xdg-open";
#endif
}

// The browser may outlive the launcher: it must not hold the server's socket or the launcher's
// pipes, and a Ctrl+C meant for the launcher must not reach it.
void prepareChild(posix_spawn_file_actions_t& actions, posix_spawnattr_t& attributes) {
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    short flags = POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
    posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
#elif defined(__APPLE__)
    flags |= POSIX_SPAWN_CLOEXEC_DEFAULT;
#endif
    posix_spawnattr_setflags(&attributes, flags);
    posix_spawnattr_setpgroup(&attributes, 0);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    sigset_t ignoredHere;  // the launcher ignores SIGPIPE; the browser gets the default back
    sigemptyset(&ignoredHere);
    sigaddset(&ignoredHere, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes, &ignoredHere);
}

}  // namespace

void openInBrowser(const std::wstring& address) {
    std::string program = browserProgram();
    std::string narrowAddress = wideToAnsi(address);
    // Without a desktop no browser opens: the person at the terminal can still go there.
    tellUser("Viewer: " + narrowAddress);
    char* arguments[] = {program.data(), narrowAddress.data(), nullptr};

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
    prepareChild(actions, attributes);
    pid_t child = 0;
    int failed = posix_spawnp(&child, program.c_str(), &actions, &attributes, arguments, environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (failed != 0) return;

    // Nobody looks at the outcome, but the child is reaped so that it does not linger.
    std::thread([child] {
        int status = 0;
        while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
    }).detach();
}
