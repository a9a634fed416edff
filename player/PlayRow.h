#pragma once
// One row of the play list, typed: a file (its path bytes, its name, the
// length and size texts shown for it, and its kind) or a track of the audio
// CD (its 0-based index). A row is classified once, when it is made, by one
// rule (audioFileKind) that adding, dropping and playing all share.
//
// The stored list keeps five text columns a row (playlist/StoredList.h):
// column 0 (empty for the rows Velumo makes), the name, the length "mm:ss",
// the size "n KB" and the path, which is kCdRowPath for a CD track.
// storedColumns and fromStored turn a row into those texts and back without
// changing a byte, so a list read and stored again is the same file.
//
// Plain values, safe on any thread.

#include "playlist/AudioItem.h"
#include "playlist/StoredList.h"

#include <cstdint>
#include <string>

// The kind of the file at path by the extension of its file name (what
// follows the last '.' after the last '/', in any case); Other when the name
// has no such extension. The one rule for a file of the play list.
FileKind audioFileKind(const std::string& path);

// "%02d:%02d" of whole minutes and seconds; below 0 counts as 0 and the
// minutes may have more digits.
std::string lengthText(int64_t seconds);
// "%d KB" of bytes / 1024; below 0 counts as 0.
std::string sizeText(int64_t bytes);

struct PlayRow {
    enum class Kind { File, CdTrack };

    Kind kind = Kind::File;
    // The file's path; kCdRowPath for a CD track.
    std::string path;
    // The title shown while the row is loaded ("Track-NN" for a track).
    std::string name;
    std::string length; // "mm:ss"
    std::string size;   // "n KB"
    // Files: the kind by audioFileKind of the path.
    FileKind fileKind = FileKind::Other;
    // CD tracks: the 0-based track, read from the name's last two digits.
    int track = 0;
    // Column 0 as a stored list gave it; empty for the rows Velumo makes.
    std::string mark;

    // A file row: the name is what follows the path's last '/'.
    static PlayRow file(const std::string& path, int64_t seconds, int64_t bytes);
    // A file row whose name is given (a row added under a name of its own).
    static PlayRow namedFile(const std::string& name, const std::string& path, int64_t seconds,
                             int64_t bytes);
    // The row of CD track index ("Track-NN").
    static PlayRow cdTrack(int index, int64_t seconds, int64_t bytes);
    // The row that five stored texts stand for: a CD track when the path is
    // kCdRowPath (compared exactly), a file otherwise.
    static PlayRow fromStored(const StoredRow& columns);

    // The five texts of the stored list, byte for byte as read.
    StoredRow storedColumns() const;
    // What the conversion job loads for this row: the path, or the track's
    // name (playlist/AudioItem.h).
    std::string item() const;
    bool isCdTrack() const { return kind == Kind::CdTrack; }
};
