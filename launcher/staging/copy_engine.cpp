#include "copy_engine.h"

#include <fstream>
#include <stdexcept>
#include <system_error>

#include "log/log.h"
#include "shell/status.h"
#include "staging/file_copy.h"
#include "staging/workspace.h"

namespace fs = std::filesystem;

bool copyOk = true;

namespace {

bool stillRunning() { return keepRunning.load(); }

bool isFolderFollowingLinks(const fs::directory_entry& entry) {
    std::error_code error;
    fs::file_status status = entry.status(error);
    // An entry that has vanished (or a dangling link) is taken as a file: its copy will fail.
    if (error && error != std::errc::no_such_file_or_directory)
        throw fs::filesystem_error("cannot read entry type", entry.path(), error);
    return fs::is_directory(status);
}

// False only when terminate cancelled the copy.
bool copyOneFile(const fs::path& source, const fs::path& target, const fs::path& name) {
    fs::path final = target / name;
    // Anything of that name, even a dangling link, is kept as it is.
    if (fs::exists(fs::symlink_status(final))) return true;
    fs::path temporary = final;
    temporary += ".bkp";
    FileCopyResult copied = copyFileExclusive(source, temporary, stillRunning);
    if (copied == FileCopyResult::Cancelled) return false;
    if (copied != FileCopyResult::Copied || !renameReplacing(temporary, final)) copyOk = false;
    return true;
}

}  // namespace

void makeFolder(const fs::path& folder) {
    if (fs::create_directory(folder) || fs::is_directory(folder)) return;
    throw fs::filesystem_error("cannot create folder", folder, std::make_error_code(std::errc::not_a_directory));
}

void writeCopyStatus(bool complete) {
    try {
        // An empty path would put the file into the current directory, the disc.
        if (workspaceDataDir.empty()) throw std::runtime_error("no workspace");
        std::ofstream file(workspaceDataDir / "copy_status.txt", std::ios::binary | std::ios::trunc);
        if (file) file << (complete ? '1' : '0');
        file.close();
        if (!file) logError("Cannot create copy status file");
    } catch (...) {
        logError("Cannot create copy status file");
    }
}

void copyTree(fs::path source, fs::path target) {
    makeFolder(target);
    for (const fs::directory_entry& entry : fs::directory_iterator(source)) {
        if (!keepRunning.load()) return;
        fs::path name = entry.path().filename();
        if (isFolderFollowingLinks(entry)) {
            copyTree(entry.path(), target / name);
        } else if (!copyOneFile(entry.path(), target, name)) {
            return;
        }
    }
}
