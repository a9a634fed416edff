#pragma once
// Audio files with tags for the tests of what a file says about itself:
// made by the ffmpeg tool (its arguments passed as they are, without a
// shell, so that any bytes may go into a tag), and tags written or damaged
// by hand where the tool writes none or only valid ones.

#include "platform/MediaReader.h"

#include <string>
#include <vector>

namespace testing_support {

// Whether the ffmpeg tool is installed.
bool haveFfmpeg();

// seconds of a 440 Hz tone in path, encoded with codecArgs ("-c:a
// libvorbis"; the container follows path's extension) and the non-empty
// texts of tags as its title, artist and album. False when ffmpeg failed.
bool makeTaggedFile(const std::string& path, const std::vector<std::string>& codecArgs,
                    const MediaTags& tags, double seconds = 1.0);

// Appends an ID3v1 tag with these texts, as bytes (at most 30 each).
bool appendId3v1(const std::string& path, const std::string& title, const std::string& artist,
                 const std::string& album);

// Overwrites the first occurrence of from in the file with to, which has
// the same length. False when the file does not hold from.
bool replaceInFile(const std::string& path, const std::string& from, const std::string& to);

} // namespace testing_support
