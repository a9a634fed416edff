#pragma once
// The files a disc image is read from (its sheet and the data files the
// sheet names), to tell whether the image is still the one opened, and the
// checks and reading of an image's files.
//
// Threads: an object belongs to one thread at a time; the static functions
// may be called from any thread.

#include <sys/stat.h>

#include <cstddef>
#include <string>
#include <vector>

class CdImageFiles {
  public:
    // A sheet or a TOC is a few kilobytes: larger text is not one.
    static constexpr size_t kTextLimit = 1 << 20;

    CdImageFiles() = default;
    // Notes the identity (device, inode, size, modification time) of each of
    // the named files that exists now.
    explicit CdImageFiles(std::vector<std::string> names);

    // Whether the named files that exist now are those noted, one for one:
    // false once one is replaced, rewritten, touched, removed or created.
    bool unchanged() const;
    // The files named, the sheet first.
    const std::vector<std::string>& names() const { return paths; }

    // Whether path is a regular file, directly or through symbolic links.
    // A FIFO, a device, a directory or a socket is not: opening one could
    // block or read without end. False with the reason in *error.
    static bool isRegularFile(const std::string& path, std::string* error);
    // Opens path for reading without blocking on a FIFO; -1 with the reason
    // in *error when it cannot be opened or is not a regular file.
    static int openRegularFile(const std::string& path, std::string* error);
    // The whole of a sheet's or a TOC's text. False with the reason in
    // *error when the file cannot be read, is not a regular file or is
    // larger than kTextLimit.
    static bool readText(const std::string& path, std::string* text, std::string* error);

  private:
    std::vector<std::string> paths;
    std::vector<struct stat> identities; // of the paths that existed
};
