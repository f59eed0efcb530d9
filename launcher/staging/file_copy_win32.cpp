#include "file_copy.h"

#include <windows.h>

namespace {

// Asked by the system between the blocks of a copy; a terminating launcher cancels the copy,
// and the system then deletes the partly written target.
DWORD CALLBACK copyProgress(LARGE_INTEGER, LARGE_INTEGER, LARGE_INTEGER, LARGE_INTEGER, DWORD, DWORD, HANDLE,
                            HANDLE, LPVOID keepGoing) {
    const auto& ask = *static_cast<const std::function<bool()>*>(keepGoing);
    return ask() ? PROGRESS_CONTINUE : PROGRESS_CANCEL;
}

}  // namespace

FileCopyResult copyFileExclusive(const std::filesystem::path& source, const std::filesystem::path& target,
                                 const std::function<bool()>& keepGoing) {
    if (!keepGoing()) return FileCopyResult::Cancelled;
    BOOL cancel = FALSE;
    if (CopyFileExW(source.c_str(), target.c_str(), copyProgress, const_cast<std::function<bool()>*>(&keepGoing),
                    &cancel, COPY_FILE_FAIL_IF_EXISTS)) {
        return FileCopyResult::Copied;
    }
    DWORD error = GetLastError();
    if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) return FileCopyResult::Failed;
    // The target did not exist before this copy, so whatever is there now is ours.
    DeleteFileW(target.c_str());
    return error == ERROR_REQUEST_ABORTED ? FileCopyResult::Cancelled : FileCopyResult::Failed;
}

bool renameReplacing(const std::filesystem::path& from, const std::filesystem::path& to) {
    return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED) != 0;
}
