#include "base/ReplacedFile.h"

#include "base/FileIo.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <vector>

namespace {
constexpr const char* kTemporaryTag = ".velumo-";
constexpr size_t kRandomChars = 6; // what mkstemp fills in
// A file name may have 255 bytes; the temporary adds a dot and the tag.
constexpr size_t kNameBytesKept = 200;
constexpr int kMostLinks = 40;

// The mode a new file gets from open: 0666 less the process's umask.
mode_t newFileMode() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

void closeKeepingErrno(int fd) {
    const int saved = errno;
    ::close(fd);
    errno = saved;
}

// An unnamed file in the system's temporary folder, for bytes that cannot
// be gathered beside their target.
int unnamedTemporary() {
    const char* folder = std::getenv("TMPDIR");
    std::string directory = folder && *folder ? folder : "/tmp";
    int fd = ::open(directory.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd < 0) {
        std::string name = directory + "/velumo-XXXXXX";
        fd = ::mkostemp(name.data(), O_CLOEXEC);
        if (fd >= 0) {
            ::unlink(name.c_str());
        }
    }
    return fd;
}

} // namespace

ReplacedFile::~ReplacedFile() {
    discard();
}

bool ReplacedFile::fail(int error, std::string text) {
    if (systemError == 0 && reason.empty()) {
        systemError = error;
        reason = text.empty() ? systemReason(error) : std::move(text);
    }
    return false;
}

std::string ReplacedFile::followLinks(const std::string& path) {
    std::string current = path;
    for (int links = 0; links <= kMostLinks; ++links) {
        struct stat info {};
        if (::lstat(current.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) {
            return current;
        }
        std::vector<char> target(static_cast<size_t>(info.st_size > 0 ? info.st_size : 255) + 1);
        const ssize_t n = ::readlink(current.c_str(), target.data(), target.size());
        if (n < 0 || static_cast<size_t>(n) >= target.size()) {
            return current; // changed under us: the rename replaces what is there
        }
        const std::string link(target.data(), static_cast<size_t>(n));
        const size_t slash = current.rfind('/');
        if (link.starts_with('/') || slash == std::string::npos) {
            current = link;
        } else {
            current.resize(slash + 1);
            current += link;
        }
    }
    errno = ELOOP;
    return {};
}

bool ReplacedFile::isTemporaryName(const std::string& name) {
    const size_t tag = std::strlen(kTemporaryTag);
    if (name.size() < 2 + tag + kRandomChars || name[0] != '.') {
        return false;
    }
    const size_t random = name.size() - kRandomChars;
    if (name.compare(random - tag, tag, kTemporaryTag) != 0) {
        return false;
    }
    for (size_t i = random; i < name.size(); ++i) {
        const char c = name[i];
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) {
            return false;
        }
    }
    return true;
}

int ReplacedFile::removeLeftoverTemporaries(const std::string& directory) {
    DIR* folder = ::opendir(directory.empty() ? "." : directory.c_str());
    if (!folder) {
        return 0;
    }
    int removed = 0;
    const int dirFd = ::dirfd(folder);
    while (const dirent* entry = ::readdir(folder)) {
        const std::string name = entry->d_name;
        if (!isTemporaryName(name)) {
            continue;
        }
        const int fd =
            ::openat(dirFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            continue;
        }
        struct stat info {};
        // A live replacement holds the lock until it renames or removes
        // the file; a process that died released it.
        if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
            ::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::unlinkat(dirFd, name.c_str(), 0) == 0) {
            ++removed;
        }
        ::close(fd);
    }
    ::closedir(folder);
    return removed;
}

bool ReplacedFile::open(const std::string& target) {
    discard();
    systemError = 0;
    reason.clear();
    resolved = followLinks(target);
    if (resolved.empty()) {
        return fail(errno);
    }
    struct stat old {};
    const bool existed = ::stat(resolved.c_str(), &old) == 0;
    if (existed && !S_ISREG(old.st_mode)) {
        return fail(0, notRegularReason(old.st_mode));
    }
    const size_t slash = resolved.rfind('/');
    const std::string directory = slash == std::string::npos ? "" : resolved.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? resolved : resolved.substr(slash + 1);
    removeLeftoverTemporaries(directory);
    // Between mkstemp and flock another process's clean-up may remove the
    // new file; the name then no longer names it, and another is made.
    int createError = EEXIST;
    for (int attempt = 0; attempt < 5 && temporaryFd < 0; ++attempt) {
        temporaryName = directory + "." + name.substr(0, kNameBytesKept) + kTemporaryTag + "XXXXXX";
        const int fd = ::mkostemp(temporaryName.data(), O_CLOEXEC);
        if (fd < 0) {
            createError = errno;
            break;
        }
        struct stat mine {};
        struct stat named {};
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            ::unlink(temporaryName.c_str());
        } else if (::fstat(fd, &mine) == 0 && ::stat(temporaryName.c_str(), &named) == 0 &&
                   mine.st_ino == named.st_ino && mine.st_dev == named.st_dev) {
            temporaryFd = fd;
            break;
        }
        ::close(fd);
    }
    if (temporaryFd >= 0) {
        [[maybe_unused]] const int changed =
            ::fchmod(temporaryFd, existed ? (old.st_mode & 0777) : newFileMode());
        return true;
    }
    temporaryName.clear();
    if (!existed || (createError != EACCES && createError != EPERM)) {
        return fail(createError);
    }
    // The folder refuses new files, but the file itself may be writable:
    // gather the bytes elsewhere and write them over it at commit.
    targetFd = ::open(resolved.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (targetFd < 0) {
        return fail(errno);
    }
    struct stat opened {};
    if (::fstat(targetFd, &opened) != 0 || !S_ISREG(opened.st_mode)) {
        const int error = errno;
        discard();
        return fail(error != 0 ? error : EINVAL, "not a regular file");
    }
    temporaryFd = unnamedTemporary();
    if (temporaryFd < 0) {
        const int error = errno;
        discard();
        return fail(error);
    }
    return true;
}

bool ReplacedFile::writeAll(std::span<const uint8_t> bytes) {
    if (temporaryFd < 0) {
        return fail(EBADF);
    }
    if (!::writeAll(temporaryFd, bytes.data(), bytes.size())) {
        return fail(errno);
    }
    return true;
}

void ReplacedFile::copyAttributesFrom(const std::string& old) {
    struct stat info {};
    if (::stat(old.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return;
    }
    // Each step is what the process may do; one refused does not stop the
    // others. The owner first: changing it clears the set-user-ID bits that
    // the mode then restores, and the access lists come last because
    // setting the mode rewrites their mask.
    if (::fchown(temporaryFd, info.st_uid, info.st_gid) != 0) {
        [[maybe_unused]] const int group =
            ::fchown(temporaryFd, static_cast<uid_t>(-1), info.st_gid);
    }
    [[maybe_unused]] const int mode = ::fchmod(temporaryFd, info.st_mode & 07777);
    const ssize_t listSize = ::listxattr(old.c_str(), nullptr, 0);
    if (listSize <= 0) {
        return;
    }
    std::vector<char> names(static_cast<size_t>(listSize));
    const ssize_t got = ::listxattr(old.c_str(), names.data(), names.size());
    if (got <= 0) {
        return;
    }
    for (size_t at = 0; at < static_cast<size_t>(got);) {
        const char* attribute = names.data() + at;
        at += std::strlen(attribute) + 1;
        const ssize_t size = ::getxattr(old.c_str(), attribute, nullptr, 0);
        if (size < 0) {
            continue;
        }
        std::vector<char> value(static_cast<size_t>(size));
        const ssize_t read = ::getxattr(old.c_str(), attribute, value.data(), value.size());
        if (read >= 0) {
            [[maybe_unused]] const int set =
                ::fsetxattr(temporaryFd, attribute, value.data(), static_cast<size_t>(read), 0);
        }
    }
}

bool ReplacedFile::writeOverTarget() {
    struct stat info {};
    if (::fstat(temporaryFd, &info) != 0) {
        return fail(errno);
    }
    std::vector<uint8_t> chunk(256 * 1024);
    off_t offset = 0;
    while (offset < info.st_size) {
        const auto n = static_cast<size_t>(
            std::min<off_t>(static_cast<off_t>(chunk.size()), info.st_size - offset));
        if (!readExactlyAt(temporaryFd, chunk.data(), n, offset) ||
            !writeAllAt(targetFd, chunk.data(), n, offset)) {
            return fail(errno);
        }
        offset += static_cast<off_t>(n);
    }
    if (::ftruncate(targetFd, info.st_size) != 0 || ::fsync(targetFd) != 0) {
        return fail(errno);
    }
    return true;
}

bool ReplacedFile::commit() {
    if (temporaryFd < 0) {
        return fail(EBADF);
    }
    bool ok = true;
    if (targetFd >= 0) {
        ok = writeOverTarget();
        if (::close(targetFd) != 0 && ok) {
            ok = fail(errno);
        }
        targetFd = -1;
        ::close(temporaryFd);
        temporaryFd = -1;
        return ok;
    }
    if (::fsync(temporaryFd) != 0) {
        ok = fail(errno);
    }
    struct stat old {};
    if (ok && ::stat(resolved.c_str(), &old) == 0) {
        if (!S_ISREG(old.st_mode)) {
            ok = fail(0, notRegularReason(old.st_mode));
        } else {
            copyAttributesFrom(resolved);
        }
    }
    if (ok && std::rename(temporaryName.c_str(), resolved.c_str()) != 0) {
        ok = fail(errno);
    }
    if (!ok) {
        ::unlink(temporaryName.c_str());
    }
    // Closing releases the lock, once the name is gone.
    closeKeepingErrno(temporaryFd);
    temporaryFd = -1;
    temporaryName.clear();
    return ok;
}

void ReplacedFile::discard() {
    if (temporaryFd >= 0) {
        if (!temporaryName.empty()) {
            ::unlink(temporaryName.c_str());
        }
        closeKeepingErrno(temporaryFd);
        temporaryFd = -1;
    }
    temporaryName.clear();
    if (targetFd >= 0) {
        closeKeepingErrno(targetFd);
        targetFd = -1;
    }
}

bool replaceFileContents(const std::string& path, std::span<const uint8_t> bytes,
                         std::string* problem) {
    ReplacedFile file;
    const bool ok = file.open(path) && file.writeAll(bytes) && file.commit();
    if (!ok && problem) {
        *problem = file.problem();
    }
    return ok;
}
