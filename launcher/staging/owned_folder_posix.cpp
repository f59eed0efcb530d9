#include "owned_folder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>

#include <string>
#include <vector>

#include "staging/descriptor_posix.h"

namespace fs = std::filesystem;

namespace {

// Far deeper than a viewer or a study goes; a deeper tree is left rather than risk the stack.
constexpr int MAX_DEPTH = 128;

void closeDescriptor(intptr_t& fd) {
    if (fd >= 0) ::close(static_cast<int>(fd));
    fd = -1;
}

bool deleteEntries(int dirFd, dev_t device, const std::string& keep, int depth);

// A folder is emptied through its own descriptor and then removed; anything else, a link
// included, is unlinked itself. True when the entry is gone.
bool deleteEntry(int dirFd, dev_t device, const std::string& name, int depth) {
    struct stat info {};
    if (::fstatat(dirFd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) return errno == ENOENT;
    if (!S_ISDIR(info.st_mode)) return ::unlinkat(dirFd, name.c_str(), 0) == 0 || errno == ENOENT;

    if (info.st_dev != device || depth >= MAX_DEPTH) return false;
    Descriptor sub(::openat(dirFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!sub.valid()) return errno == ENOENT;
    struct stat opened {};
    // Swapped since it was looked at: whatever is there now is not what was checked.
    bool same =
        ::fstat(sub.get(), &opened) == 0 && opened.st_dev == info.st_dev && opened.st_ino == info.st_ino;
    // A folder unpacked read-only keeps its entries until it is opened up.
    if (same && (opened.st_mode & S_IRWXU) != S_IRWXU) ::fchmod(sub.get(), S_IRWXU);
    bool emptied = same && deleteEntries(sub.get(), device, std::string(), depth + 1);
    return emptied && (::unlinkat(dirFd, name.c_str(), AT_REMOVEDIR) == 0 || errno == ENOENT);
}

bool deleteEntries(int dirFd, dev_t device, const std::string& keep, int depth) {
    std::vector<std::string> names;
    bool clean = listNames(dirFd, names);
    for (const std::string& name : names)
        if (name != keep && !deleteEntry(dirFd, device, name, depth)) clean = false;
    return clean;
}

}  // namespace

OwnedFolder::~OwnedFolder() {
    closeDescriptor(handle);
    closeDescriptor(parent);
}

FolderCheck openOwnedFolder(const fs::path& folder, OwnedFolder& opened) {
    closeDescriptor(opened.handle);
    closeDescriptor(opened.parent);
    fs::path name = folder.filename();
    if (name.empty() || name == "." || name == "..") return FolderCheck::NotOwn;
    fs::path parentPath = folder.parent_path();
    int parent = ::open(parentPath.empty() ? "." : parentPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (parent < 0) return FolderCheck::Missing;
    // O_NONBLOCK: a FIFO planted under the name must not hang the open.
    int fd = ::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        FolderCheck check = errno == ENOENT ? FolderCheck::Missing : FolderCheck::NotOwn;
        ::close(parent);
        return check;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != ::geteuid()) {
        ::close(fd);
        ::close(parent);
        return FolderCheck::NotOwn;
    }
    opened.path = folder;
    opened.parent = parent;
    opened.handle = fd;
    return FolderCheck::Own;
}

bool closedToOthers(const OwnedFolder& folder) {
    struct stat info {};
    return folder.handle >= 0 && ::fstat(static_cast<int>(folder.handle), &info) == 0 &&
           (info.st_mode & 07777) == S_IRWXU;
}

bool deleteFolderContents(const OwnedFolder& folder, const fs::path& keep) noexcept {
    try {
        int fd = static_cast<int>(folder.handle);
        struct stat info {};
        if (fd < 0 || ::fstat(fd, &info) != 0) return false;
        return deleteEntries(fd, info.st_dev, keep.native(), 0);
    } catch (...) {
        return false;  // out of memory listing names: what is left stays
    }
}

bool deleteEmptiedFolder(OwnedFolder& folder, const fs::path& last) noexcept {
    try {
        int fd = static_cast<int>(folder.handle);
        int parent = static_cast<int>(folder.parent);
        if (fd < 0 || parent < 0) return false;
        if (!last.empty()) ::unlinkat(fd, last.c_str(), 0);
        struct stat held {};
        struct stat named {};
        const fs::path name = folder.path.filename();
        // Only the folder that was checked goes, and only once it is empty.
        if (::fstat(fd, &held) != 0) return false;
        if (::fstatat(parent, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0) return errno == ENOENT;
        if (named.st_dev != held.st_dev || named.st_ino != held.st_ino) return false;
        bool removed = ::unlinkat(parent, name.c_str(), AT_REMOVEDIR) == 0;
        if (removed) {
            closeDescriptor(folder.handle);
            closeDescriptor(folder.parent);
        }
        return removed;
    } catch (...) {
        return false;
    }
}

// Nothing deletes files at the next start here; the next launcher's sweep does it instead.
bool markForRestart(const OwnedFolder&) noexcept { return false; }
