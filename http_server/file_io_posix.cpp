// POSIX descriptors and directory streams.

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "file_io.h"

namespace {

void fillInfo(const struct stat& status, FileInfo* info) {
    info->isDirectory = S_ISDIR(status.st_mode);
    info->isRegular = S_ISREG(status.st_mode);
    info->size = static_cast<std::int64_t>(status.st_size);
    info->modified = static_cast<std::int64_t>(status.st_mtime);
}

// Descriptor 0 means "no file" to the server.
int awayFromZero(int fd) {
    if (fd != 0) return fd;
    int moved = fcntl(fd, F_DUPFD_CLOEXEC, 1);
    close(fd);
    return moved;
}

}  // namespace

bool fileQuery(const char* path, FileInfo* info) {
    struct stat status {};
    if (stat(path, &status) != 0) return false;
    fillInfo(status, info);
    return true;
}

bool fileQueryOpen(int file, FileInfo* info) {
    struct stat status {};
    if (fstat(file, &status) != 0) return false;
    fillInfo(status, info);
    return true;
}

int fileOpenRead(const char* path) {
    int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return -1;
    // O_NONBLOCK only keeps a FIFO from blocking the open; regular reads ignore it.
    int status = fcntl(fd, F_GETFL, 0);
    if (status >= 0) fcntl(fd, F_SETFL, status & ~O_NONBLOCK);
    return awayFromZero(fd);
}

int fileOpenWrite(const char* path) {
    int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    return fd < 0 ? -1 : awayFromZero(fd);
}

int fileRead(int file, char* buffer, int length, int* error) {
    for (;;) {
        ssize_t count = read(file, buffer, static_cast<size_t>(length));
        if (count >= 0) return static_cast<int>(count);
        if (errno == EINTR) continue;
        *error = errno;
        return -1;
    }
}

int fileWrite(int file, const char* data, int length) {
    int written = 0;
    while (written < length) {
        ssize_t count = write(file, data + written, static_cast<size_t>(length - written));
        if (count < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        written += static_cast<int>(count);
    }
    return written;
}

bool fileSeek(int file, std::int64_t offset) {
    return lseek(file, static_cast<off_t>(offset), SEEK_SET) >= 0;
}

bool fileSeekBy(int file, std::int64_t delta) {
    return lseek(file, static_cast<off_t>(delta), SEEK_CUR) >= 0;
}

void fileClose(int file) {
    if (file > 0) close(file);
}

bool fileListDirectory(const char* directory, std::vector<std::string>* names) {
    DIR* stream = opendir(directory);
    if (!stream) return false;
    while (dirent* entry = readdir(stream)) names->emplace_back(entry->d_name);
    closedir(stream);
    return true;
}
