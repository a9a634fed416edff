#include "platform/CdImageFiles.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

namespace {

std::vector<struct stat> identify(const std::vector<std::string>& paths) {
    std::vector<struct stat> out;
    for (const auto& path : paths) {
        struct stat st {};
        if (::stat(path.c_str(), &st) == 0) {
            out.push_back(st);
        }
    }
    return out;
}

bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
           a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

const char* kindOf(mode_t mode) {
    if (S_ISDIR(mode)) {
        return "is a directory, not a regular file";
    }
    if (S_ISFIFO(mode)) {
        return "is a FIFO, not a regular file";
    }
    if (S_ISSOCK(mode)) {
        return "is a socket, not a regular file";
    }
    if (S_ISCHR(mode) || S_ISBLK(mode)) {
        return "is a device, not a regular file";
    }
    return "is not a regular file";
}

} // namespace

CdImageFiles::CdImageFiles(std::vector<std::string> names)
    : paths(std::move(names)), identities(identify(paths)) {}

bool CdImageFiles::unchanged() const {
    const std::vector<struct stat> now = identify(paths);
    return std::equal(now.begin(), now.end(), identities.begin(), identities.end(), sameFile);
}

bool CdImageFiles::isRegularFile(const std::string& path, std::string* error) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        *error = path + ": " + std::strerror(errno);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        *error = path + " " + kindOf(st.st_mode);
        return false;
    }
    return true;
}

int CdImageFiles::openRegularFile(const std::string& path, std::string* error) {
    // O_NONBLOCK: a FIFO put in the file's place after a check would
    // otherwise hold the open until a writer comes. It changes nothing for
    // the reads of a regular file.
    if (!isRegularFile(path, error)) {
        return -1; // said before an open that a socket or a device would fail otherwise
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *error = path + ": " + std::strerror(errno);
        return -1;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        *error = path + " " + kindOf(st.st_mode);
        ::close(fd);
        return -1;
    }
    return fd;
}

bool CdImageFiles::readText(const std::string& path, std::string* text, std::string* error) {
    text->clear();
    const int fd = openRegularFile(path, error);
    if (fd < 0) {
        return false;
    }
    std::string out(kTextLimit + 1, '\0');
    size_t got = 0;
    while (got < out.size()) {
        const ssize_t n = ::read(fd, out.data() + got, out.size() - got);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            *error = path + ": " + std::strerror(errno);
            ::close(fd);
            return false;
        }
        if (n == 0) {
            break;
        }
        got += static_cast<size_t>(n);
    }
    ::close(fd);
    if (got > kTextLimit) {
        *error = path + " is larger than a sheet can be (" + std::to_string(kTextLimit) + " bytes)";
        return false;
    }
    out.resize(got);
    *text = std::move(out);
    return true;
}
