#include "file_copy.h"

#include <windows.h>

#include <vector>

namespace {

// Large enough to read a disc at full speed, small enough that a terminate is noticed at once.
constexpr DWORD COPY_BLOCK = 256 * 1024;

class Handle {
public:
    explicit Handle(HANDLE handle) : handle_(handle) {}
    ~Handle() { close(); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE get() const { return handle_; }
    bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
    // Closing a written file can report a late write error; the caller must see it.
    bool close() {
        if (!valid()) return true;
        BOOL closed = CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
        return closed != 0;
    }

private:
    HANDLE handle_;
};

bool writeAll(HANDLE file, const char* data, DWORD size) {
    while (size > 0) {
        DWORD written = 0;
        if (!WriteFile(file, data, size, &written, nullptr) || written == 0) return false;
        data += written;
        size -= written;
    }
    return true;
}

}  // namespace

// A copy of our own rather than CopyFileExW, whose progress routine (the only way to cancel it)
// is not called by every implementation (Wine never calls it): a terminating launcher must stop
// every copy between two blocks.
FileCopyResult copyFileExclusive(const std::filesystem::path& source, const std::filesystem::path& target,
                                 const std::function<bool()>& keepGoing) {
    Handle from(CreateFileW(source.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!from.valid()) return FileCopyResult::Failed;
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(from.get(), &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        return FileCopyResult::Failed;
    }
    // CREATE_NEW: an existing target (a copy still under way, a leftover) is never overwritten.
    Handle to(
        CreateFileW(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!to.valid()) return FileCopyResult::Failed;

    FileCopyResult result = FileCopyResult::Copied;
    std::vector<char> block(COPY_BLOCK);
    for (;;) {
        if (!keepGoing()) {
            result = FileCopyResult::Cancelled;
            break;
        }
        DWORD got = 0;
        if (!ReadFile(from.get(), block.data(), COPY_BLOCK, &got, nullptr)) {
            result = FileCopyResult::Failed;
            break;
        }
        if (got == 0) break;
        if (!writeAll(to.get(), block.data(), got)) {
            result = FileCopyResult::Failed;
            break;
        }
    }
    if (result == FileCopyResult::Copied) {
        // The modification time is a courtesy; failing to keep it does not spoil the copy.
        SetFileTime(to.get(), &info.ftCreationTime, nullptr, &info.ftLastWriteTime);
        if (!to.close()) result = FileCopyResult::Failed;
    }
    to.close();
    if (result != FileCopyResult::Copied) {
        DeleteFileW(target.c_str());
        return result;
    }
    // The copy keeps the file's attributes, as the system's copy would (read-only from a disc
    // included; the workspace removal deletes such files all the same).
    SetFileAttributesW(target.c_str(),
                       info.dwFileAttributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_COMPRESSED));
    return FileCopyResult::Copied;
}

bool renameReplacing(const std::filesystem::path& from, const std::filesystem::path& to) {
    return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED) != 0;
}
