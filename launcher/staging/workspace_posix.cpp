#include "workspace_platform.h"

#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>
#include <cerrno>

#include <system_error>

#include "staging/descriptor_posix.h"

namespace fs = std::filesystem;

// TMPDIR (and its siblings) when set, else /tmp; the library checks that it is a folder.
fs::path temporaryFolder() { return fs::temp_directory_path(); }

uint64_t systemRandomNumber() {
    uint64_t number = 0;
    if (::getentropy(&number, sizeof number) == 0) return number;
    // A kernel older than the getrandom call still has the device.
    Descriptor device(::open("/dev/urandom", O_RDONLY | O_CLOEXEC));
    if (device.valid() && ::read(device.get(), &number, sizeof number) == sizeof number) return number;
    throw std::system_error(errno, std::generic_category(), "system random source");
}
