#include "base/FileIo.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

std::string systemReason(int error) {
    return std::strerror(error);
}

std::string notRegularReason(unsigned mode) {
    const char* kind = "not a file";
    if (S_ISDIR(mode)) {
        kind = "a directory";
    } else if (S_ISFIFO(mode)) {
        kind = "a FIFO";
    } else if (S_ISCHR(mode)) {
        kind = "a character device";
    } else if (S_ISBLK(mode)) {
        kind = "a block device";
    } else if (S_ISSOCK(mode)) {
        kind = "a socket";
    }
    return std::string(kind) + ", not a regular file";
}

namespace {

// Calls step(bytes done so far) until size bytes are moved, again after
// EINTR; a call that moves nothing fails with EIO.
template <class Step> bool moveAll(size_t size, Step step) {
    size_t done = 0;
    while (done < size) {
        const ssize_t n = step(done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            errno = n == 0 ? EIO : errno;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

} // namespace

bool writeAll(int fd, const void* bytes, size_t size) {
    const auto* from = static_cast<const uint8_t*>(bytes);
    return moveAll(size, [&](size_t done) { return ::write(fd, from + done, size - done); });
}

bool writeAllAt(int fd, const void* bytes, size_t size, off_t offset) {
    const auto* from = static_cast<const uint8_t*>(bytes);
    return moveAll(size, [&](size_t done) {
        return ::pwrite(fd, from + done, size - done, offset + static_cast<off_t>(done));
    });
}

ssize_t readAll(int fd, void* bytes, size_t size) {
    auto* at = static_cast<uint8_t*>(bytes);
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::read(fd, at + done, size - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return -1;
        }
        if (n == 0) {
            break;
        }
        done += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(done);
}

ssize_t readSome(int fd, void* bytes, size_t size) {
    ssize_t n = 0;
    do {
        n = ::read(fd, bytes, size);
    } while (n < 0 && errno == EINTR);
    return n;
}

bool readExactlyAt(int fd, void* bytes, size_t size, off_t offset) {
    auto* to = static_cast<uint8_t*>(bytes);
    return moveAll(size, [&](size_t done) {
        return ::pread(fd, to + done, size - done, offset + static_cast<off_t>(done));
    });
}

RegularFileOpen openRegularFile(const char* path) {
    RegularFileOpen result;
    if (!path || !*path) {
        result.error = ENOENT;
        return result;
    }
    // A look at the path first: a device is not opened at all (opening some
    // has effects of its own), and a directory gets its own system text.
    struct stat info {};
    if (::stat(path, &info) != 0) {
        result.error = errno;
        return result;
    }
    result.mode = static_cast<int>(info.st_mode);
    if (S_ISDIR(info.st_mode)) {
        result.error = EISDIR;
        return result;
    }
    if (!S_ISREG(info.st_mode)) {
        return result;
    }
    // O_NONBLOCK: should the path have become a FIFO since the look, the
    // open still returns at once and fstat below refuses it.
    int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        result.error = errno;
        return result;
    }
    if (::fstat(fd, &info) != 0) {
        result.error = errno;
        ::close(fd);
        return result;
    }
    result.mode = static_cast<int>(info.st_mode);
    if (!S_ISREG(info.st_mode)) {
        result.error = S_ISDIR(info.st_mode) ? EISDIR : 0;
        ::close(fd);
        return result;
    }
    int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) {
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    }
    result.fd = fd;
    return result;
}

std::string regularFileProblem(const char* path) {
    RegularFileOpen opened = openRegularFile(path);
    if (opened.ok()) {
        ::close(opened.fd);
        return {};
    }
    if (opened.notRegular()) {
        return "is " + notRegularReason(static_cast<unsigned>(opened.mode));
    }
    return systemReason(opened.error);
}

RegularFileContents readRegularFile(const char* path, size_t limit) {
    RegularFileContents result;
    RegularFileOpen opened = openRegularFile(path);
    if (!opened.ok()) {
        result.missing = opened.error == ENOENT || opened.error == ENOTDIR;
        result.problem = opened.notRegular()
                             ? "is " + notRegularReason(static_cast<unsigned>(opened.mode))
                             : systemReason(opened.error);
        return result;
    }
    struct stat info {};
    size_t wanted = limit;
    if (::fstat(opened.fd, &info) == 0 && info.st_size >= 0 &&
        static_cast<uint64_t>(info.st_size) < wanted) {
        wanted = static_cast<size_t>(info.st_size);
    }
    // One byte past the limit tells a file that is longer; a file that grew
    // since fstat is read up to the limit too.
    result.bytes.resize(wanted < limit ? wanted + 1 : limit + 1);
    const ssize_t got = readAll(opened.fd, result.bytes.data(), result.bytes.size());
    const int readError = got < 0 ? errno : 0;
    ::close(opened.fd);
    if (got < 0) {
        result.bytes.clear();
        result.problem = systemReason(readError);
        return result;
    }
    const auto done = static_cast<size_t>(got);
    result.truncated = done > limit;
    result.bytes.resize(done > limit ? limit : done);
    result.ok = true;
    return result;
}
