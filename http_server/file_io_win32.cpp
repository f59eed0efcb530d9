// The Windows C run-time's descriptor calls and _findfirst enumeration.

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>

#include "file_io.h"

namespace {

void fillInfo(const struct _stat64& status, FileInfo* info) {
    info->isDirectory = (status.st_mode & _S_IFMT) == _S_IFDIR;
    info->isRegular = (status.st_mode & _S_IFMT) == _S_IFREG;
    info->size = status.st_size;
    info->modified = status.st_mtime;
}

int awayFromZero(int fd) {
    if (fd != 0) return fd;
    int moved = _dup(fd);
    _close(fd);
    return moved;
}

}  // namespace

bool fileQuery(const char* path, FileInfo* info) {
    struct _stat64 status {};
    if (_stat64(path, &status) != 0) return false;
    fillInfo(status, info);
    return true;
}

bool fileQueryOpen(int file, FileInfo* info) {
    struct _stat64 status {};
    if (_fstat64(file, &status) != 0) return false;
    fillInfo(status, info);
    return true;
}

int fileOpenRead(const char* path) {
    int fd = _open(path, _O_RDONLY | _O_BINARY | _O_NOINHERIT);
    return fd < 0 ? -1 : awayFromZero(fd);
}

int fileOpenWrite(const char* path) {
    int fd = _open(path, _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY | _O_NOINHERIT, _S_IREAD | _S_IWRITE);
    return fd < 0 ? -1 : awayFromZero(fd);
}

int fileRead(int file, char* buffer, int length, int* error) {
    int count = _read(file, buffer, static_cast<unsigned>(length));
    if (count < 0) *error = errno;
    return count;
}

int fileWrite(int file, const char* data, int length) {
    int written = 0;
    while (written < length) {
        int count = _write(file, data + written, static_cast<unsigned>(length - written));
        if (count <= 0) return -1;
        written += count;
    }
    return written;
}

bool fileSeek(int file, std::int64_t offset) { return _lseeki64(file, offset, SEEK_SET) >= 0; }

bool fileSeekBy(int file, std::int64_t delta) { return _lseeki64(file, delta, SEEK_CUR) >= 0; }

void fileClose(int file) {
    if (file > 0) _close(file);
}

bool fileListDirectory(const char* directory, std::vector<std::string>* names) {
    std::string pattern = std::string(directory) + "\\*.*";
    struct __finddata64_t entry {};
    intptr_t search = _findfirst64(pattern.c_str(), &entry);
    if (search == -1) return false;
    do {
        names->emplace_back(entry.name);
    } while (_findnext64(search, &entry) == 0);
    _findclose(search);
    return true;
}
