#include "platform/RegularFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char* kindOf(int mode) {
    if (S_ISFIFO(mode)) {
        return "a FIFO";
    }
    if (S_ISCHR(mode)) {
        return "a character device";
    }
    if (S_ISBLK(mode)) {
        return "a block device";
    }
    if (S_ISSOCK(mode)) {
        return "a socket";
    }
    return "not a file";
}

} // namespace

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
        return std::string("is ") + kindOf(opened.mode) + ", not a regular file";
    }
    return std::strerror(opened.error);
}

RegularFileContents readRegularFile(const char* path, size_t limit) {
    RegularFileContents result;
    RegularFileOpen opened = openRegularFile(path);
    if (!opened.ok()) {
        result.missing = opened.error == ENOENT || opened.error == ENOTDIR;
        result.problem = opened.notRegular()
                             ? std::string("is ") + kindOf(opened.mode) + ", not a regular file"
                             : std::string(std::strerror(opened.error));
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
    size_t done = 0;
    int readError = 0;
    while (done < result.bytes.size()) {
        const ssize_t n = ::read(opened.fd, result.bytes.data() + done, result.bytes.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            readError = errno;
            break;
        }
        if (n == 0) {
            break;
        }
        done += static_cast<size_t>(n);
    }
    ::close(opened.fd);
    if (readError != 0) {
        result.bytes.clear();
        result.problem = std::strerror(readError);
        return result;
    }
    result.truncated = done > limit;
    result.bytes.resize(done > limit ? limit : done);
    result.ok = true;
    return result;
}
