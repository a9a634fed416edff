// Loaded with LD_PRELOAD: read() on a file whose path ends with
// $VELUMO_SLOW_READ_SUFFIX first sleeps $VELUMO_SLOW_READ_MS milliseconds,
// as on a slow network or FUSE mount, a disk spinning up, or a loaded
// machine. Other descriptors are read at once.

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <string>
#include <time.h>
#include <unistd.h>

namespace {

using ReadFunction = ssize_t (*)(int, void*, size_t);

bool isSlowFile(int fd) {
    const char* suffix = std::getenv("VELUMO_SLOW_READ_SUFFIX");
    if (!suffix || !*suffix) {
        return false;
    }
    char link[64];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    char target[4096];
    const ssize_t n = ::readlink(link, target, sizeof target - 1);
    if (n <= 0) {
        return false;
    }
    const std::string path(target, static_cast<size_t>(n));
    const size_t length = std::strlen(suffix);
    return path.size() >= length && path.compare(path.size() - length, length, suffix) == 0;
}

} // namespace

extern "C" ssize_t read(int fd, void* buffer, size_t count) {
    static const auto real = reinterpret_cast<ReadFunction>(::dlsym(RTLD_NEXT, "read"));
    const int saved = errno;
    if (isSlowFile(fd)) {
        const char* ms = std::getenv("VELUMO_SLOW_READ_MS");
        const long wait = ms ? std::atol(ms) : 0;
        timespec pause{wait / 1000, (wait % 1000) * 1000000};
        while (::nanosleep(&pause, &pause) != 0 && errno == EINTR) {
        }
    }
    errno = saved;
    return real(fd, buffer, count);
}
