#include "player/StoredListFile.h"

#include "base/FileIo.h"
#include "base/ReplacedFile.h"

#include <cstdio>
#include <filesystem>
#include <sys/stat.h>
#include <system_error>
#include <utility>

namespace {

// A stored list larger than this is not a list Velumo wrote; reading stops
// there, as at any other damage.
constexpr size_t kStoredListLimit = 64 * 1024 * 1024;

} // namespace

StoredListFile::FileStamp StoredListFile::FileStamp::of(const std::string& path) {
    FileStamp stamp;
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0) {
        stamp.exists = true;
        stamp.device = static_cast<uint64_t>(info.st_dev);
        stamp.inode = static_cast<uint64_t>(info.st_ino);
        stamp.size = static_cast<int64_t>(info.st_size);
        stamp.modified = static_cast<int64_t>(info.st_mtim.tv_sec) * 1000000000 +
                         static_cast<int64_t>(info.st_mtim.tv_nsec);
    }
    return stamp;
}

std::string StoredListFile::sessionPath(const ProgramFiles& files) {
    return files.storedListPath() + ".session";
}

std::string StoredListFile::otherWindowPath(const ProgramFiles& files) {
    return files.storedListPath() + ".other";
}

std::string StoredListFile::takeNotice() {
    return std::exchange(pendingNotice, std::string());
}

bool StoredListFile::load(const ProgramFiles& files, PlayRows& rows) {
    // A store that was killed leaves its temporary file, under a name no
    // user would choose; files the user keeps beside the list stay.
    ReplacedFile::removeLeftoverTemporaries(files.dataDirectory());
    const std::string path = files.storedListPath();
    // What this window read: a later store by another window shows as a
    // change of it.
    stamp = FileStamp::of(path);
    return readInto(path, files, rows);
}

bool StoredListFile::readInto(const std::string& listPath, const ProgramFiles& files,
                              PlayRows& rows) {
    std::string path = listPath;
    RegularFileContents contents = readRegularFile(path.c_str(), kStoredListLimit);
    if (contents.missing && !files.programDirectoryListPath().empty()) {
        // The list of a run from before the program's directory became
        // read-only; the next store writes it to the data directory.
        path = files.programDirectoryListPath();
        contents = readRegularFile(path.c_str(), kStoredListLimit);
    }
    if (contents.missing) {
        return false;
    }
    if (!contents.ok) {
        // A list that is there but cannot be read (another owner, a FIFO, a
        // folder) may hold the user's rows: it is never stored over.
        if (path == listPath) {
            unreadablePath = path;
        }
        std::fprintf(stderr,
                     "velumo: cannot read the stored list %s: %s; it is left as it is and this "
                     "session's list is stored as %s\n",
                     path.c_str(), contents.problem.c_str(), sessionPath(files).c_str());
        return false;
    }
    const int before = rows.count();
    const bool complete =
        rows.insertStored(contents.bytes.data(), contents.bytes.size()) && !contents.truncated;
    // The rows past the damage are not lost without a trace: the next store
    // keeps the file it read.
    damagedPath = complete ? std::string() : path;
    if (!complete) {
        std::fprintf(stderr,
                     "velumo: the stored list %s is damaged; kept the %d rows before the damage\n",
                     path.c_str(), rows.count() - before);
    }
    return complete;
}

void StoredListFile::keepDamagedList(const ProgramFiles& files) {
    // One copy, beside the list being stored; an older copy is replaced.
    const std::string copy = files.storedListPath() + ".damaged";
    std::error_code error;
    std::filesystem::copy_file(damagedPath, copy, std::filesystem::copy_options::overwrite_existing,
                               error);
    if (error) {
        std::fprintf(stderr, "velumo: cannot keep the damaged list %s as %s: %s\n",
                     damagedPath.c_str(), copy.c_str(), error.message().c_str());
        return; // tried once; the store goes on
    }
    std::fprintf(stderr, "velumo: the damaged list %s was kept as %s\n", damagedPath.c_str(),
                 copy.c_str());
    damagedPath.clear();
}

bool StoredListFile::noDataDirectory(const ProgramFiles& files) {
    if (files.ensureDataDirectory()) {
        return false;
    }
    storeProblem = files.dataDirectory().empty()
                       ? std::string("there is no folder for it (neither HOME nor "
                                     "XDG_DATA_HOME names one)")
                       : "the folder " + files.dataDirectory() + " cannot be created";
    std::fprintf(stderr, "velumo: cannot store the list: %s\n", storeProblem.c_str());
    return true;
}

bool StoredListFile::store(const ProgramFiles& files, const std::vector<uint8_t>& bytes) {
    // A list that could not be read at start is left as it is.
    const std::string path = unreadablePath.empty() ? files.storedListPath() : sessionPath(files);
    if (noDataDirectory(files)) {
        return false;
    }
    if (path == files.storedListPath()) {
        keepListOfAnotherWindow(files);
    }
    // Written beside the list and renamed over it only once complete, so a
    // crash or a full disk leaves the previous list intact.
    ReplacedFile replacement;
    bool ok = replacement.open(path) && replacement.writeAll(bytes);
    if (ok && !damagedPath.empty()) {
        keepDamagedList(files);
    }
    ok = ok && replacement.commit();
    if (!ok) {
        storeProblem = path + ": " + replacement.problem();
        std::fprintf(stderr, "velumo: cannot write the stored list %s\n", storeProblem.c_str());
    }
    if (ok && path == files.storedListPath()) {
        stamp = FileStamp::of(path);
    }
    return ok;
}

void StoredListFile::keepListOfAnotherWindow(const ProgramFiles& files) {
    const std::string path = files.storedListPath();
    const FileStamp now = FileStamp::of(path);
    if (!now.exists || now == stamp) {
        return;
    }
    // Another window (or another program) stored the list after this one
    // read it: its rows are not this window's to throw away.
    const std::string copy = otherWindowPath(files);
    std::error_code error;
    std::filesystem::copy_file(path, copy, std::filesystem::copy_options::overwrite_existing,
                               error);
    if (error) {
        std::fprintf(stderr, "velumo: cannot keep the list stored by another window %s as %s: %s\n",
                     path.c_str(), copy.c_str(), error.message().c_str());
        return;
    }
    stamp = now;
    pendingNotice = "The play list " + path +
                    " was changed by another Velumo window after this one read it.\nThat list is "
                    "kept as " +
                    copy + "; this window's list is stored as " + path + ".";
}
