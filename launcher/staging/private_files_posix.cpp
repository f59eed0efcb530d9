#include "private_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>

#include <string>
#include <system_error>
#include <vector>

#include "staging/descriptor_posix.h"

namespace fs = std::filesystem;

namespace {

// Deeper than a viewer or a study goes; what lies below is still inside the closed workspace.
constexpr int MAX_DEPTH = 128;

void closeEntries(int dirFd, int depth);

// Through a descriptor opened without following a link, so that only the entry looked at changes.
void closeEntry(int dirFd, const char* name, int depth) {
    // Only files and folders are opened: opening a device or a FIFO could have effects of its own.
    struct stat named {};
    if (::fstatat(dirFd, name, &named, AT_SYMLINK_NOFOLLOW) != 0 ||
        !(S_ISREG(named.st_mode) || S_ISDIR(named.st_mode)))
        return;
    Descriptor fd(::openat(dirFd, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!fd.valid()) return;
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0 || !(S_ISREG(info.st_mode) || S_ISDIR(info.st_mode))) return;
    if ((info.st_mode & (S_IRWXG | S_IRWXO)) != 0) ::fchmod(fd.get(), info.st_mode & S_IRWXU);
    if (S_ISDIR(info.st_mode) && depth < MAX_DEPTH) closeEntries(fd.get(), depth + 1);
}

void closeEntries(int dirFd, int depth) {
    std::vector<std::string> names;
    listNames(dirFd, names);
    for (const std::string& name : names) closeEntry(dirFd, name.c_str(), depth);
}

}  // namespace

bool createPrivateFolder(const fs::path& folder) {
    if (::mkdir(folder.c_str(), S_IRWXU) != 0) {
        std::error_code error(errno, std::generic_category());
        std::error_code ignored;
        if (error == std::errc::file_exists && fs::is_directory(folder, ignored)) return false;
        throw fs::filesystem_error("cannot create folder", folder, error);
    }
    // The umask can only take bits off: one that took the owner's own would lock the launcher out.
    Descriptor fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (fd.valid()) ::fchmod(fd.get(), S_IRWXU);
    return true;
}

void closeToOthers(const fs::path& folder) noexcept {
    try {
        Descriptor fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (fd.valid()) closeEntries(fd.get(), 0);
    } catch (...) {
        // Out of memory listing names: the workspace folder itself still keeps others out.
    }
}
