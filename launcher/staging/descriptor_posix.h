#pragma once
// What the descriptor-relative walks over the workspace share (POSIX only).

#include <string>
#include <vector>

// Closes the descriptor on every way out of a scope.
class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor();
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }

private:
    int fd_;
};

// The names in the folder open as dirFd, without "." and "..", its position left as it was.
// False when the folder could not be read to the end.
bool listNames(int dirFd, std::vector<std::string>& names);
