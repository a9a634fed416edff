#pragma once
// The files a disc image is read from (its sheet and the data files the
// sheet names), to tell whether the image is still the one opened, and the
// reading of an image's text file.
//
// Threads: an object belongs to one thread at a time; the static function
// may be called from any thread.

#include <sys/stat.h>

#include <string>
#include <vector>

class CdImageFiles {
  public:
    CdImageFiles() = default;
    // Notes the identity (device, inode, size, modification time) of each of
    // the named files that exists now.
    explicit CdImageFiles(std::vector<std::string> names);

    // Whether the named files that exist now are those noted, one for one:
    // false once one is replaced, rewritten, touched, removed or created.
    bool unchanged() const;

    // The first megabyte of a text file (a CUE sheet or a TOC is a few
    // kilobytes); empty when it cannot be read.
    static std::string readTextStart(const std::string& path);

  private:
    std::vector<std::string> paths;
    std::vector<struct stat> identities; // of the paths that existed
};
