#pragma once
// The server's file access through the C run-time's descriptor calls, whose names and flags
// differ between POSIX and the Windows run-time. Files are opened in binary mode and are not
// inherited by child processes.

#include <cstdint>
#include <string>
#include <vector>

struct FileInfo {
    bool isDirectory;
    bool isRegular;
    std::int64_t size;
    std::int64_t modified;  // seconds since 1970
};

// False when the path cannot be examined.
bool fileQuery(const char* path, FileInfo* info);
bool fileQueryOpen(int file, FileInfo* info);

// A descriptor above 0, or -1.
int fileOpenRead(const char* path);
int fileOpenWrite(const char* path);  // creates or truncates

// Bytes read, 0 at the end, -1 on failure with the C run-time's error number in *error.
int fileRead(int file, char* buffer, int length, int* error);
int fileWrite(int file, const char* data, int length);
bool fileSeek(int file, std::int64_t offset);
bool fileSeekBy(int file, std::int64_t delta);  // relative to the current position
void fileClose(int file);

// The names in a directory ("." and ".." included); false when it cannot be enumerated.
bool fileListDirectory(const char* directory, std::vector<std::string>* names);
