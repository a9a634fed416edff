#pragma once
// Reading and writing files through their descriptors, and opening an input
// file only when it is a regular file.
//
// Every read and write here is tried again after EINTR, and every reason
// for a failure is worded by systemReason or notRegularReason, so that a
// reason reads the same wherever Velumo gives it.
//
// Media inputs are read to their end, seeked and measured: a FIFO or a
// terminal would block the reader forever, a device such as /dev/zero never
// ends, and a directory or a socket cannot be read at all. Such paths,
// directly or through symbolic links, are refused at once, before any
// library sees them; opening never blocks (O_NONBLOCK, cleared again once
// the descriptor is known to be a regular file, and the check is made on
// the open descriptor itself, so a path swapped after the check is caught).
//
// Any thread.

#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

// The system's text for an error number ("No such file or directory").
std::string systemReason(int error);
// What a file of mode st_mode is instead of a regular file, in words:
// "a FIFO, not a regular file", "a character device, not a regular file".
std::string notRegularReason(unsigned mode);

// Writes all of size bytes at the current position (writeAll) or at offset
// (writeAllAt). False with errno set on failure; a write that takes no
// bytes fails with EIO.
bool writeAll(int fd, const void* bytes, size_t size);
bool writeAllAt(int fd, const void* bytes, size_t size, off_t offset);
// Reads from the current position until size bytes or the end of the file:
// how many bytes were read, or -1 with errno set.
ssize_t readAll(int fd, void* bytes, size_t size);
// One read of up to size bytes, again after EINTR: what read() returns.
ssize_t readSome(int fd, void* bytes, size_t size);
// Reads exactly size bytes at offset; false at the end of the file (errno
// EIO) or on an error (errno set).
bool readExactlyAt(int fd, void* bytes, size_t size, off_t offset);

// The outcome of openRegularFile: a descriptor, or why there is none.
struct RegularFileOpen {
    int fd = -1;   // open for reading, close-on-exec; -1 on failure
    int error = 0; // errno value of a failed open or fstat; 0 otherwise
    int mode = 0;  // st_mode of what the path names (0 when unknown)
    bool ok() const { return fd >= 0; }
    // Whether the path exists and opened but names something other than a
    // regular file.
    bool notRegular() const { return fd < 0 && error == 0 && mode != 0; }
};

// Opens path for reading when it names a regular file. The caller closes
// the descriptor.
RegularFileOpen openRegularFile(const char* path);

// The reason, in words, why path cannot be read as a regular file: the
// system's text for a failed open ("No such file or directory", "Is a
// directory", ...) or "is " and what the path names instead ("is a FIFO,
// not a regular file"). Empty when path is a readable regular file.
std::string regularFileProblem(const char* path);

// The outcome of readRegularFile.
struct RegularFileContents {
    bool ok = false;            // the file was opened and read
    bool missing = false;       // nothing at the path (ENOENT, ENOTDIR)
    bool truncated = false;     // the file is longer than the limit
    std::vector<uint8_t> bytes; // at most limit bytes from the start
    std::string problem;        // why it could not be read (as regularFileProblem)
};

// Reads at most limit bytes of the regular file at path, for the small
// files Velumo keeps (its settings and stored list): never blocks on a FIFO,
// never reads a device, and never allocates more than the file holds up to
// the limit.
RegularFileContents readRegularFile(const char* path, size_t limit);
