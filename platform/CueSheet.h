#pragma once
// The disc layout of a CUE sheet, for the sheets the CD library's own image
// reader cannot lay out: several data files (one file per track, as many
// rippers write them), big-endian ("MOTOROLA") audio files, audio kept in
// WAVE files, and a data file not named after the sheet. The CD layer reads such images through
// this layout; a sheet with one raw little-endian file goes to the library as before.
//
// Frame addresses count from the start of the first track's program area,
// as on a disc: a file's frames follow the previous file's, a PREGAP or
// POSTGAP inserts frames of silence that no file holds, and a track starts
// at its INDEX 01 (the INDEX 00 pause before it belongs to the track before,
// as a drive reports it).

#include <cstdint>
#include <string>
#include <vector>

struct CueTrack {
    uint8_t number = 0;
    bool audio = true;
    bool copyPermitted = false; // FLAGS DCP
    bool preEmphasis = false;   // FLAGS PRE
    uint32_t start = 0;         // frame address of INDEX 01
};

// A run of consecutive frames: read from a file, or silence.
struct CueSegment {
    uint32_t start = 0; // frame address of the first frame
    uint32_t frames = 0;
    int file = -1;               // index into CueLayout::files; -1: silence
    uint64_t offset = 0;         // byte of the first frame in the file
    uint64_t end = 0;            // first byte past the file's sound data
    uint32_t sectorBytes = 2352; // bytes each frame takes in the file
    bool bigEndian = false;
    bool audio = true;
};

struct CueLayout {
    std::vector<std::string> files; // paths as opened (relative to the sheet)
    std::vector<CueTrack> tracks;
    std::vector<CueSegment> segments; // in address order, without gaps
    uint32_t leadOut = 0;             // first frame past the last track
};

// Whether the sheet at sheetPath, whose text is given, needs this layout
// rather than the library's reader: more than one FILE line, a file of type
// MOTOROLA or WAVE, a byte-order mark, or a single file other than the
// sheet's own name with ".bin" (the only file the library opens).
bool cueSheetNeedsLayout(const std::string& text, const std::string& sheetPath);

// Reads the sheet at path and lays its disc out. False with a reason naming
// the sheet in *error for a sheet that cannot describe a readable disc: no
// tracks, a track without INDEX 01, indexes running backwards, a track that
// starts past the end of its file, tracks and gaps adding up to more than a
// disc holds (kCdMaxDiscFrames), a missing or unusable file (the sheet and
// its files must be regular files; a WAVE file must hold 16-bit stereo PCM
// at 44100 Hz), or an unsupported file or track type.
bool loadCueLayout(const std::string& path, CueLayout* layout, std::string* error);
