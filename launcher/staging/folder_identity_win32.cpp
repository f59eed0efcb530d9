#include "folder_identity.h"

#include <windows.h>

std::optional<FolderIdentity> folderIdentity(const std::filesystem::path& folder) {
    // A folder opens only with backup semantics; junctions and links are followed.
    const DWORD shareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    HANDLE handle = CreateFileW(folder.c_str(), FILE_READ_ATTRIBUTES, shareAll, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return std::nullopt;
    BY_HANDLE_FILE_INFORMATION info{};
    const BOOL read = GetFileInformationByHandle(handle, &info);
    CloseHandle(handle);
    // A file system that numbers nothing would make every folder look like every other.
    if (!read || (info.nFileIndexHigh == 0 && info.nFileIndexLow == 0)) return std::nullopt;
    return FolderIdentity{info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
}
