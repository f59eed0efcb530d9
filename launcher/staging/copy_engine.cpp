#include "copy_engine.h"

#include <algorithm>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <system_error>
#include <vector>

#include "common/status.h"
#include "log/ansi_text.h"
#include "log/log.h"
#include "staging/file_copy.h"
#include "staging/folder_identity.h"
#include "staging/private_files.h"
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

// inside: the folders the walk is in, source among them. A link back to one of them (DICOM/S1/up
// -> .., possible on Rock Ridge discs) would copy the study into itself until the disk is full.
void copyFolder(const fs::path& source, const fs::path& target, std::vector<FolderIdentity> inside) {
    makeFolder(target);
    for (const fs::directory_entry& entry : fs::directory_iterator(source)) {
        if (!keepRunning.load()) return;
        fs::path name = entry.path().filename();
        if (isFolderFollowingLinks(entry)) {
            std::optional<FolderIdentity> folder = folderIdentity(entry.path());
            if (folder && std::find(inside.begin(), inside.end(), *folder) != inside.end()) {
                logWarn("Link cycle skipped: " + pathToAnsi(entry.path()));
                continue;
            }
            std::vector<FolderIdentity> deeper = inside;
            if (folder) deeper.push_back(*folder);
            copyFolder(entry.path(), target / name, std::move(deeper));
        } else if (!copyOneFile(entry.path(), target, name)) {
            return;
        }
    }
}

}  // namespace

void makeFolder(const fs::path& folder) {
    if (createPrivateFolder(folder) || fs::is_directory(folder)) return;
    throw fs::filesystem_error("cannot create folder", folder,
                               std::make_error_code(std::errc::not_a_directory));
}

void makeWorkspaceSkeleton(const fs::path& workspaceDataDir) {
    makeFolder(workspaceDataDir);
    makeFolder(workspaceDataDir / "DICOM");
    makeFolder(workspaceDataDir / "DW");
    makeFolder(workspaceDataDir / "7z");
    writeCopyStatus(workspaceDataDir, false);
}

void writeCopyStatus(bool complete) { writeCopyStatus(workspaceDataDir, complete); }

void writeCopyStatus(const fs::path& dataFolder, bool complete) {
    try {
        // An empty path would put the file into the current directory, the disc.
        if (dataFolder.empty()) throw std::runtime_error("no workspace");
        std::ofstream file(dataFolder / "copy_status.txt", std::ios::binary | std::ios::trunc);
        if (file) file << (complete ? '1' : '0');
        file.close();
        if (!file) logError("Cannot create copy status file");
    } catch (...) {
        logError("Cannot create copy status file");
    }
}

void copyTree(fs::path source, fs::path target) {
    std::vector<FolderIdentity> inside;
    if (std::optional<FolderIdentity> root = folderIdentity(source)) inside.push_back(*root);
    copyFolder(source, target, std::move(inside));
}
