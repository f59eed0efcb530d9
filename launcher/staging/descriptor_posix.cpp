#include "descriptor_posix.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>
#include <cerrno>

Descriptor::~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
}

bool listNames(int dirFd, std::vector<std::string>& names) {
    int listing = ::openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (listing < 0) return false;
    DIR* dir = ::fdopendir(listing);
    if (dir == nullptr) {
        ::close(listing);
        return false;
    }
    struct Closer {
        DIR* dir;
        ~Closer() { ::closedir(dir); }
    } closer{dir};
    for (;;) {
        errno = 0;
        dirent* entry = ::readdir(dir);
        if (entry == nullptr) return errno == 0;
        std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(std::move(name));
    }
}
