#include "platform/CdImageFiles.h"

#include "base/FileIo.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
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

// What path is instead of a regular file, in the words every reader uses.
std::string notRegular(const std::string& path, unsigned mode) {
    return path + " is " + notRegularReason(mode);
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
        *error = path + ": " + systemReason(errno);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        *error = notRegular(path, st.st_mode);
        return false;
    }
    return true;
}

int CdImageFiles::openRegularFile(const std::string& path, std::string* error) {
    if (!isRegularFile(path, error)) {
        return -1; // said before an open that a socket or a device would fail otherwise
    }
    // Should the path have become something else since, the open neither
    // blocks nor takes it.
    const RegularFileOpen opened = ::openRegularFile(path.c_str());
    if (!opened.ok()) {
        *error = opened.mode != 0 && !S_ISREG(static_cast<unsigned>(opened.mode))
                     ? notRegular(path, static_cast<unsigned>(opened.mode))
                     : path + ": " + systemReason(opened.error);
        return -1;
    }
    return opened.fd;
}

bool CdImageFiles::readText(const std::string& path, std::string* text, std::string* error) {
    text->clear();
    const int fd = openRegularFile(path, error);
    if (fd < 0) {
        return false;
    }
    std::string out(kTextLimit + 1, '\0');
    const ssize_t got = readAll(fd, out.data(), out.size());
    if (got < 0) {
        *error = path + ": " + systemReason(errno);
        ::close(fd);
        return false;
    }
    ::close(fd);
    if (static_cast<size_t>(got) > kTextLimit) {
        *error = path + " is larger than a sheet can be (" + std::to_string(kTextLimit) + " bytes)";
        return false;
    }
    out.resize(static_cast<size_t>(got));
    *text = std::move(out);
    return true;
}
