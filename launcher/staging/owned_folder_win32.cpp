#include "owned_folder.h"

// windows.h first: the other Windows headers build on its types.
#include <windows.h>

#include <aclapi.h>

#include <cstddef>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

// Far deeper than a viewer or a study goes; a deeper tree is left rather than risk the stack.
constexpr int MAX_DEPTH = 128;

const DWORD NO_FOLLOW = FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT;

// A folder opened without FILE_SHARE_DELETE cannot be renamed or replaced while it is open: the
// path of everything below it stays the one that was checked.
HANDLE openPinned(const fs::path& path, DWORD access) {
    return CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                       NO_FOLLOW, nullptr);
}

// Closes a handle on every way out of a scope, an exception from a deeper level included.
struct ScopedHandle {
    HANDLE value;
    ~ScopedHandle() {
        if (value != nullptr && value != INVALID_HANDLE_VALUE) CloseHandle(value);
    }
};

HANDLE handleOf(const OwnedFolder& folder) { return reinterpret_cast<HANDLE>(folder.handle); }

bool isReparsePoint(DWORD attributes) { return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0; }

// Deleted when the handle closes; a link or junction goes itself, as it was opened without
// being followed.
bool deleteOnClose(HANDLE handle) {
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = TRUE;
    return SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof disposition) != 0;
}

std::vector<BYTE> tokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS kind) {
    DWORD size = 0;
    GetTokenInformation(token, kind, nullptr, 0, &size);
    std::vector<BYTE> buffer(size);
    if (size == 0 || !GetTokenInformation(token, kind, buffer.data(), size, &size)) buffer.clear();
    return buffer;
}

// The user, or the owner the user's token gives what it makes (the Administrators group for an
// elevated one).
bool isCurrentUser(PSID owner) {
    ScopedHandle token{nullptr};
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token.value)) return false;
    std::vector<BYTE> user = tokenInformation(token.value, TokenUser);
    std::vector<BYTE> creator = tokenInformation(token.value, TokenOwner);
    bool same = !user.empty() && EqualSid(owner, reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid);
    if (!same && !creator.empty())
        same = EqualSid(owner, reinterpret_cast<TOKEN_OWNER*>(creator.data())->Owner);
    return same;
}

bool ownedByCurrentUser(HANDLE handle) {
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(handle, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                        &descriptor) != ERROR_SUCCESS)
        return false;
    bool own = owner != nullptr && isCurrentUser(owner);
    LocalFree(descriptor);
    return own;
}

// The names in the folder open as handle (with FILE_LIST_DIRECTORY), read through the handle
// itself: a listing by path would be another open, which the folder's pin refuses under Wine.
bool listNames(HANDLE folder, std::vector<std::wstring>& names) {
    std::vector<BYTE> buffer(64 * 1024);
    FILE_INFO_BY_HANDLE_CLASS kind = FileIdBothDirectoryRestartInfo;
    while (GetFileInformationByHandleEx(folder, kind, buffer.data(), static_cast<DWORD>(buffer.size()))) {
        kind = FileIdBothDirectoryInfo;
        size_t offset = 0;
        for (;;) {
            const size_t nameAt = offset + offsetof(FILE_ID_BOTH_DIR_INFO, FileName);
            if (nameAt > buffer.size()) return false;
            const auto* entry = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(buffer.data() + offset);
            if (entry->FileNameLength > buffer.size() - nameAt) return false;
            std::wstring name(entry->FileName, entry->FileNameLength / sizeof(wchar_t));
            if (name != L"." && name != L"..") names.push_back(std::move(name));
            if (entry->NextEntryOffset == 0) break;
            offset += entry->NextEntryOffset;
        }
    }
    return GetLastError() == ERROR_NO_MORE_FILES;
}

bool deleteEntries(HANDLE handle, const fs::path& folder, const std::wstring& keep, int depth);

// What the handle says, not what the listing said: the entry may have been swapped since.
bool deleteEntry(const fs::path& path, int depth) {
    const DWORD access = DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | SYNCHRONIZE;
    ScopedHandle opened{openPinned(path, access | FILE_LIST_DIRECTORY)};
    if (opened.value == INVALID_HANDLE_VALUE) opened.value = openPinned(path, access);
    HANDLE handle = opened.value;
    if (handle == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    }
    bool gone = false;
    BY_HANDLE_FILE_INFORMATION info{};
    if (GetFileInformationByHandle(handle, &info)) {
        DWORD attributes = info.dwFileAttributes;
        bool folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && !isReparsePoint(attributes);
        bool emptied =
            !folder || (depth < MAX_DEPTH && deleteEntries(handle, path, std::wstring(), depth + 1));
        if (emptied && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
            FILE_BASIC_INFO basic{};
            basic.FileAttributes = (attributes & ~FILE_ATTRIBUTE_READONLY) | FILE_ATTRIBUTE_NORMAL;
            SetFileInformationByHandle(handle, FileBasicInfo, &basic, sizeof basic);
        }
        gone = emptied && deleteOnClose(handle);
    }
    return gone;
}

bool deleteEntries(HANDLE handle, const fs::path& folder, const std::wstring& keep, int depth) {
    std::vector<std::wstring> names;
    bool clean = listNames(handle, names);
    for (const std::wstring& name : names)
        if (name != keep && !deleteEntry(folder / name, depth)) clean = false;
    return clean;
}

// A link or junction is marked itself: the restart removes it, never what it leads to.
bool markEntries(HANDLE handle, const fs::path& folder, int depth) {
    std::vector<std::wstring> names;
    bool marked = listNames(handle, names);
    for (const std::wstring& name : names) {
        fs::path child = folder / name;
        ScopedHandle sub{CreateFileW(child.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                     OPEN_EXISTING, NO_FOLLOW, nullptr)};
        BY_HANDLE_FILE_INFORMATION info{};
        bool folderToEnter =
            sub.value != INVALID_HANDLE_VALUE && GetFileInformationByHandle(sub.value, &info) &&
            (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && !isReparsePoint(info.dwFileAttributes);
        if (folderToEnter) marked = depth < MAX_DEPTH && markEntries(sub.value, child, depth + 1) && marked;
        marked = MoveFileExW(child.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) && marked;
    }
    return marked;
}

}  // namespace

OwnedFolder::~OwnedFolder() {
    if (handle != -1) CloseHandle(handleOf(*this));
    handle = -1;
}

FolderCheck openOwnedFolder(const fs::path& folder, OwnedFolder& opened) {
    if (opened.handle != -1) CloseHandle(handleOf(opened));
    opened.handle = -1;
    const DWORD access = DELETE | READ_CONTROL | FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
    HANDLE handle = openPinned(folder, access);
    if (handle == INVALID_HANDLE_VALUE && GetLastError() == ERROR_SHARING_VIOLATION) {
        // Someone holds it open for deletion already; it can still be emptied without following links.
        handle = CreateFileW(folder.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             nullptr, OPEN_EXISTING, NO_FOLLOW, nullptr);
    }
    if (handle == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        bool missing = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
        return missing ? FolderCheck::Missing : FolderCheck::NotOwn;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(handle, &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 || isReparsePoint(info.dwFileAttributes) ||
        !ownedByCurrentUser(handle)) {
        CloseHandle(handle);
        return FolderCheck::NotOwn;
    }
    opened.path = folder;
    opened.handle = reinterpret_cast<intptr_t>(handle);
    return FolderCheck::Own;
}

bool closedToOthers(const OwnedFolder& folder) { return folder.handle != -1; }

bool deleteFolderContents(const OwnedFolder& folder, const fs::path& keep) noexcept {
    try {
        return folder.handle != -1 && deleteEntries(handleOf(folder), folder.path, keep.native(), 0);
    } catch (...) {
        return false;  // out of memory listing names: what is left stays
    }
}

bool deleteEmptiedFolder(OwnedFolder& folder, const fs::path& last) noexcept {
    try {
        if (folder.handle == -1) return false;
        if (!last.empty()) deleteEntry(folder.path / last, 0);
        if (!deleteOnClose(handleOf(folder))) return false;
        CloseHandle(handleOf(folder));
        folder.handle = -1;
        DWORD attributes = GetFileAttributesW(folder.path.c_str());
        return attributes == INVALID_FILE_ATTRIBUTES;
    } catch (...) {
        return false;
    }
}

bool markForRestart(const OwnedFolder& folder) noexcept {
    try {
        if (folder.handle == -1) return false;
        // Children before their folder, as the restart deletes them in the order they were marked.
        bool marked = markEntries(handleOf(folder), folder.path, 0);
        return MoveFileExW(folder.path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) && marked;
    } catch (...) {
        return false;
    }
}
