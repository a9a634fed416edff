#pragma once
// Replacing a file's contents so that a failure leaves the old contents, and
// the replacement keeps what the user set up around the file.
//
// The new bytes go to a temporary file beside the file being replaced, which
// is renamed over it once complete (after fsync): a crash, a full disk or a
// failed job leaves the old file as it was. Around that:
//
//  - a symbolic link is kept: the file it names (through any number of
//    links) is the one replaced, and a link that names no file yet creates
//    that file;
//  - the replacement gets the old file's owner, group, mode, access control
//    lists and extended attributes, as far as the process may set them (an
//    ordinary user cannot give a file away: that one is skipped);
//  - where the folder cannot hold the temporary file (no write permission on
//    the folder, but on the file), the bytes are gathered in an unnamed file
//    in the system's temporary folder and written over the target in one
//    pass at commit, then the target is cut to their length;
//  - a target that exists and is not a regular file (a device, a FIFO, a
//    directory, through a link or not) is refused: nothing is written to it.
//
// Temporary files are named ".<name>.velumo-XXXXXX", a name no user would
// choose, and hold an exclusive lock (flock) while they live, so that
// removeLeftoverTemporaries removes only those of a process that died.
//
// One object per replacement, used by one thread at a time.

#include <cstdint>
#include <span>
#include <string>

class ReplacedFile {
  public:
    ReplacedFile() = default;
    ReplacedFile(const ReplacedFile&) = delete;
    ReplacedFile& operator=(const ReplacedFile&) = delete;
    // An uncommitted replacement is discarded: the target stays as it was.
    ~ReplacedFile();

    // Starts replacing target. False (with error() and problem() set) when
    // the target is not a regular file or no file can take the new bytes.
    bool open(const std::string& target);
    // Where the new bytes go until commit: write at the current position.
    // -1 before open and after commit or discard. The caller may write
    // through a dup() of it but must not close this descriptor.
    int fd() const { return temporaryFd; }
    // Writes all of bytes at the current position; false (errno kept in
    // error()) on a failed or short write.
    bool writeAll(std::span<const uint8_t> bytes);
    // Makes the new bytes the target's: fsync, the old file's attributes,
    // rename (or the one-pass write over the target). False, with the target
    // as it was before open (a one-pass write that failed part way is the
    // exception: it reports the failure), when any step fails.
    bool commit();
    // Drops the new bytes; the target stays as it was.
    void discard();

    // The operating system's error number of the first failed step; 0 when
    // none failed.
    int error() const { return systemError; }
    // The failure in words: the system's text, or what the target is
    // instead of a regular file. Empty when nothing failed.
    const std::string& problem() const { return reason; }
    // The file actually replaced: the target with its links followed.
    const std::string& resolvedPath() const { return resolved; }
    // Whether the bytes are written over the target at commit instead of
    // renamed into place.
    bool writesInPlace() const { return targetFd >= 0; }

    // The file a path names after following symbolic links in its last
    // component (a relative link is read against the link's folder). The
    // path itself when it is no link; empty (errno ELOOP) after 40 links.
    static std::string followLinks(const std::string& path);
    // Removes, in directory, the temporary files of replacements whose
    // process ended before committing (no lock held on them). Returns how
    // many were removed. Other files are never touched.
    static int removeLeftoverTemporaries(const std::string& directory);
    // Whether name has the form of a temporary file of a replacement.
    static bool isTemporaryName(const std::string& name);

  private:
    bool fail(int error, std::string text = {});
    void copyAttributesFrom(const std::string& old);
    bool writeOverTarget();

    std::string resolved;
    std::string temporaryName; // empty for an unnamed temporary
    int temporaryFd = -1;
    int targetFd = -1; // the target, open for the one-pass write
    int systemError = 0;
    std::string reason;
};

// Replaces path's contents with bytes by a ReplacedFile. On failure returns
// false and, when problem is given, sets it to the reason in words.
bool replaceFileContents(const std::string& path, std::span<const uint8_t> bytes,
                         std::string* problem = nullptr);
