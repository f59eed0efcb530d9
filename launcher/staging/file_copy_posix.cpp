#include "file_copy.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstdio>

#include <system_error>
#include <vector>

namespace {

// Large enough to read a disc at full speed, small enough that a terminate is noticed at once.
constexpr size_t COPY_BLOCK = 256 * 1024;

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() { close(); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    // Closing a written file can report a late write error; the caller must see it.
    bool close() {
        if (fd_ < 0) return true;
        int result = ::close(fd_);
        fd_ = -1;
        return result == 0;
    }

private:
    int fd_;
};

bool writeAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        ssize_t written = ::write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

enum class BlockResult { Done, Failed, Cancelled };

// One block copied inside the kernel, the data never passing through this process: bytes
// copied, 0 at the end of the source, -1 when this way is not available (or failed).
ssize_t copyBlockInKernel(int from, int to) {
#ifdef __linux__
    for (;;) {
        ssize_t count = ::copy_file_range(from, nullptr, to, nullptr, COPY_BLOCK, 0);
        if (count >= 0 || errno != EINTR) return count;
    }
#else
    (void)from;
    (void)to;
    return -1;
#endif
}

BlockResult copyBlocks(int from, int to, const std::function<bool()>& keepGoing) {
    // Where the kernel cannot copy (another file system, an old kernel, a file whose size it
    // does not know), reading and writing goes on from where it stopped; a real fault then
    // shows there.
    bool inKernel = true;
    bool copiedInKernel = false;
    std::vector<char> block;
    for (;;) {
        if (!keepGoing()) return BlockResult::Cancelled;
        if (inKernel) {
            ssize_t count = copyBlockInKernel(from, to);
            if (count > 0) {
                copiedInKernel = true;
                continue;
            }
            if (count == 0 && copiedInKernel) return BlockResult::Done;
            inKernel = false;
            block.resize(COPY_BLOCK);
        }
        ssize_t count = ::read(from, block.data(), block.size());
        if (count < 0) {
            if (errno == EINTR) continue;
            return BlockResult::Failed;
        }
        if (count == 0) return BlockResult::Done;
        if (!writeAll(to, block.data(), static_cast<size_t>(count))) return BlockResult::Failed;
    }
}

}  // namespace

FileCopyResult copyFileExclusive(const std::filesystem::path& source, const std::filesystem::path& target,
                                 const std::function<bool()>& keepGoing) {
    // Non-blocking open so that a FIFO or device on the source side cannot hang the walk; it
    // is refused below as not a regular file.
    Descriptor from(::open(source.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!from.valid()) return FileCopyResult::Failed;
    struct stat info {};
    if (::fstat(from.get(), &info) != 0 || !S_ISREG(info.st_mode)) return FileCopyResult::Failed;
    int flags = ::fcntl(from.get(), F_GETFL);
    if (flags >= 0) ::fcntl(from.get(), F_SETFL, flags & ~O_NONBLOCK);

    // O_EXCL: an existing target (a copy still under way, a leftover) is never overwritten.
    Descriptor to(::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, S_IRUSR | S_IWUSR));
    if (!to.valid()) return FileCopyResult::Failed;

    BlockResult copied = copyBlocks(from.get(), to.get(), keepGoing);
    bool ok = copied == BlockResult::Done;
    // The owner's permissions are kept; a study in the workspace is nobody else's to read.
    if (ok) ok = ::fchmod(to.get(), info.st_mode & S_IRWXU) == 0;
    if (!to.close()) ok = false;
    if (ok) {
        // The modification time is a courtesy; failing to keep it does not spoil the copy.
        std::error_code ignored;
        auto modified = std::filesystem::last_write_time(source, ignored);
        if (!ignored) std::filesystem::last_write_time(target, modified, ignored);
        return FileCopyResult::Copied;
    }
    ::unlink(target.c_str());
    return copied == BlockResult::Cancelled ? FileCopyResult::Cancelled : FileCopyResult::Failed;
}

bool renameReplacing(const std::filesystem::path& from, const std::filesystem::path& to) {
    return ::rename(from.c_str(), to.c_str()) == 0;
}
