#include "platform/CueSheet.h"

#include "base/FileIo.h"
#include "base/LittleEndian.h"
#include "base/Riff.h"
#include "platform/CdImageFiles.h"
#include "platform/CdLibrary.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <sstream>

namespace {

constexpr uint32_t kAudioSectorBytes = 2352;

std::string upper(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return text;
}

// Splits a sheet line into words; a double-quoted word may hold spaces.
std::vector<std::string> words(const std::string& line) {
    std::vector<std::string> out;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && std::isspace(static_cast<unsigned char>(line[i]))) {
            ++i;
        }
        if (i >= line.size()) {
            break;
        }
        std::string word;
        if (line[i] == '"') {
            size_t close = line.find('"', i + 1);
            if (close == std::string::npos) {
                close = line.size();
            }
            word = line.substr(i + 1, close - i - 1);
            i = close + 1;
        } else {
            while (i < line.size() && !std::isspace(static_cast<unsigned char>(line[i]))) {
                word += line[i++];
            }
        }
        out.push_back(std::move(word));
    }
    return out;
}

// "mm:ss:ff" -> frames; false for anything else.
bool parseTime(const std::string& text, uint32_t* frames) {
    unsigned m = 0, s = 0, f = 0;
    char tail = 0;
    if (std::sscanf(text.c_str(), "%3u:%2u:%2u%c", &m, &s, &f, &tail) != 3 || s >= 60 || f >= 75) {
        return false;
    }
    *frames = (m * 60 + s) * 75 + f;
    return true;
}

bool parseNumber(const std::string& text, unsigned limit, unsigned* value) {
    if (text.empty() || text.size() > 3) {
        return false;
    }
    unsigned v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        v = v * 10 + static_cast<unsigned>(c - '0');
    }
    if (v > limit) {
        return false;
    }
    *value = v;
    return true;
}

struct SheetFile {
    std::string path;
    std::string type;   // BINARY, MOTOROLA or WAVE
    uint64_t begin = 0; // first byte of sound
    uint64_t end = 0;   // first byte past it
};

struct SheetTrack {
    CueTrack track;
    int file = -1;
    uint32_t sectorBytes = kAudioSectorBytes;
    int64_t index0 = -1;
    int64_t index1 = -1;
    uint32_t pregap = 0;
    uint32_t postgap = 0;
};

// Finds the sound of a WAVE file holding CD audio (16-bit stereo PCM at
// 44100 Hz): its "data" chunk, clamped to the file.
bool locateWaveData(int fd, uint64_t fileSize, SheetFile* file, std::string* error) {
    bool formatOk = false;
    bool found = false;
    bool wrongFormat = false;
    const bool isWave = forEachRiffChunk(fd, fileSize, "WAVE", [&](const RiffChunkAt& chunk) {
        if (std::memcmp(chunk.id, "fmt ", 4) == 0 && chunk.size >= 16) {
            unsigned char fmt[40] = {};
            const size_t want = std::min<size_t>(chunk.size, sizeof fmt);
            if (!readExactlyAt(fd, fmt, want, static_cast<off_t>(chunk.payloadStart))) {
                return false;
            }
            uint16_t tag = readLe16(fmt);
            if (tag == 0xFFFE && chunk.size >= 26) {
                tag = readLe16(fmt + 24); // the sub-format's leading word
            }
            formatOk = tag == 1 && readLe16(fmt + 2) == 2 && readLe32(fmt + 4) == 44100 &&
                       readLe16(fmt + 14) == 16;
            wrongFormat = !formatOk;
            return formatOk;
        }
        if (std::memcmp(chunk.id, "data", 4) == 0) {
            if (formatOk) {
                file->begin = chunk.payloadStart;
                file->end = chunk.payloadEnd;
                found = true;
            }
            return false;
        }
        return true;
    });
    if (!isWave) {
        *error = "not a WAVE file: " + file->path;
    } else if (wrongFormat) {
        *error = "not 16-bit stereo PCM at 44100 Hz: " + file->path;
    } else if (!found) {
        *error = "no CD audio in WAVE file: " + file->path;
    }
    return found;
}

// A data file must be a regular file: a FIFO or a device named by a sheet
// would block the open or the reads, or never end.
bool openFile(const std::string& sheetDir, SheetFile* file, std::string* error) {
    if (!file->path.empty() && file->path[0] != '/') {
        file->path = sheetDir + file->path;
    }
    const int fd = CdImageFiles::openRegularFile(file->path, error);
    if (fd < 0) {
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || st.st_size < 0) {
        *error = "cannot read " + file->path;
        ::close(fd);
        return false;
    }
    const auto size = static_cast<uint64_t>(st.st_size);
    bool ok = true;
    if (file->type == "WAVE") {
        ok = locateWaveData(fd, size, file, error);
    } else {
        file->begin = 0;
        file->end = size;
    }
    ::close(fd);
    return ok;
}

bool trackMode(const std::string& mode, SheetTrack* t) {
    struct Mode {
        const char* name;
        uint32_t bytes;
        bool audio;
    };
    static const Mode modes[] = {
        {"AUDIO", 2352, true},       {"CDG", 2448, true},         {"MODE1/2048", 2048, false},
        {"MODE1/2352", 2352, false}, {"MODE2/2048", 2048, false}, {"MODE2/2324", 2324, false},
        {"MODE2/2336", 2336, false}, {"MODE2/2352", 2352, false}, {"CDI/2336", 2336, false},
        {"CDI/2352", 2352, false},
    };
    for (const Mode& m : modes) {
        if (mode == m.name) {
            t->sectorBytes = m.bytes;
            t->track.audio = m.audio;
            return true;
        }
    }
    return false;
}

// Lays the parsed tracks out on the disc (see the header).
bool layOut(const std::vector<SheetFile>& files, std::vector<SheetTrack>& tracks, CueLayout* layout,
            std::string* error) {
    uint64_t cursor = 0;
    auto silence = [&](uint32_t frames) {
        if (frames != 0) {
            CueSegment gap;
            gap.start = static_cast<uint32_t>(cursor);
            gap.frames = frames;
            layout->segments.push_back(gap);
            cursor += frames;
        }
    };
    size_t i = 0;
    while (i < tracks.size()) {
        const int fileIndex = tracks[i].file;
        const SheetFile& file = files[static_cast<size_t>(fileIndex)];
        uint64_t offset = file.begin;
        size_t first = i;
        for (; i < tracks.size() && tracks[i].file == fileIndex; ++i) {
            SheetTrack& t = tracks[i];
            // Where the track's frames begin in the file: its INDEX 00 pause,
            // or INDEX 01; the first track of a file takes the file's start.
            const uint64_t from =
                i == first ? 0 : static_cast<uint64_t>(t.index0 >= 0 ? t.index0 : t.index1);
            const uint64_t to =
                i + 1 < tracks.size() && tracks[i + 1].file == fileIndex
                    ? static_cast<uint64_t>(tracks[i + 1].index0 >= 0 ? tracks[i + 1].index0
                                                                      : tracks[i + 1].index1)
                    : UINT64_MAX;
            if (static_cast<uint64_t>(t.index1) < from || (t.index0 >= 0 && t.index0 > t.index1) ||
                (to != UINT64_MAX && to < static_cast<uint64_t>(t.index1))) {
                *error = "indexes run backwards in track " + std::to_string(t.track.number);
                return false;
            }
            if (to == static_cast<uint64_t>(t.index1)) {
                *error = "track " + std::to_string(t.track.number) + " is empty";
                return false;
            }
            uint64_t frames;
            if (to != UINT64_MAX) {
                frames = to - from;
                // The next track's frames begin there: in the file, or no
                // track of the file has data from here on.
                if (offset + frames * t.sectorBytes >= file.end) {
                    *error = "track " + std::to_string(tracks[i + 1].track.number) +
                             " starts past the end of its data file";
                    return false;
                }
            } else {
                // The file's last track runs to its end; a last partial frame
                // is completed with silence.
                const uint64_t left = file.end > offset ? file.end - offset : 0;
                frames = (left + t.sectorBytes - 1) / t.sectorBytes;
                if (frames <= static_cast<uint64_t>(t.index1) - from) {
                    *error = "track " + std::to_string(t.track.number) +
                             " starts past the end of its data file";
                    return false;
                }
            }
            silence(t.pregap);
            t.track.start =
                static_cast<uint32_t>(cursor + (static_cast<uint64_t>(t.index1) - from));
            if (frames != 0) {
                CueSegment segment;
                segment.start = static_cast<uint32_t>(cursor);
                segment.frames = static_cast<uint32_t>(frames);
                segment.file = fileIndex;
                segment.offset = offset;
                segment.end = file.end;
                segment.sectorBytes = t.sectorBytes;
                segment.bigEndian = file.type == "MOTOROLA";
                segment.audio = t.track.audio;
                layout->segments.push_back(segment);
            }
            cursor += frames;
            offset += frames * t.sectorBytes;
            silence(t.postgap);
            if (cursor > kCdMaxDiscFrames) {
                *error = "its tracks and gaps add up to more than a disc holds (99:59:74), at "
                         "track " +
                         std::to_string(t.track.number);
                return false;
            }
            layout->tracks.push_back(t.track);
        }
    }
    layout->leadOut = static_cast<uint32_t>(cursor);
    return true;
}

} // namespace

bool cueSheetNeedsLayout(const std::string& text, const std::string& sheetPath) {
    // The library takes a sheet only without a byte-order mark, and reads the
    // sheet's stem with ".bin" whatever its FILE line names.
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        return true;
    }
    std::istringstream lines(text);
    std::string line;
    std::vector<std::string> names;
    while (std::getline(lines, line)) {
        const std::vector<std::string> w = words(line);
        if (w.size() >= 3 && upper(w[0]) == "FILE") {
            const std::string type = upper(w.back());
            if (type == "MOTOROLA" || type == "WAVE") {
                return true;
            }
            names.push_back(w[1]);
        }
    }
    if (names.size() != 1) {
        return names.size() > 1;
    }
    const size_t slash = sheetPath.find_last_of('/');
    const std::string dir =
        slash == std::string::npos ? std::string() : sheetPath.substr(0, slash + 1);
    const size_t dot = sheetPath.find_last_of('.');
    const std::string stem = dot == std::string::npos || (slash != std::string::npos && dot < slash)
                                 ? sheetPath
                                 : sheetPath.substr(0, dot);
    const std::string named = !names[0].empty() && names[0][0] == '/' ? names[0] : dir + names[0];
    return named != stem + ".bin";
}

bool loadCueLayout(const std::string& path, CueLayout* layout, std::string* error) {
    *layout = CueLayout();
    std::string text;
    if (!CdImageFiles::readText(path, &text, error)) {
        return false;
    }
    const size_t slash = path.find_last_of('/');
    const std::string sheetDir =
        slash == std::string::npos ? std::string() : path.substr(0, slash + 1);

    std::vector<SheetFile> files;
    std::vector<SheetTrack> tracks;
    std::istringstream lines(text);
    std::string line;
    int lineNumber = 0;
    auto fail = [&](const std::string& why) {
        *error = path + ":" + std::to_string(lineNumber) + ": " + why;
        return false;
    };
    while (std::getline(lines, line)) {
        ++lineNumber;
        if (lineNumber == 1 && line.compare(0, 3, "\xEF\xBB\xBF") == 0) {
            line.erase(0, 3);
        }
        const std::vector<std::string> w = words(line);
        if (w.empty()) {
            continue;
        }
        const std::string command = upper(w[0]);
        if (command == "FILE") {
            if (w.size() < 3) {
                return fail("FILE needs a name and a type");
            }
            SheetFile file;
            file.path = w[1];
            file.type = upper(w.back());
            if (file.type != "BINARY" && file.type != "MOTOROLA" && file.type != "WAVE") {
                return fail("unsupported file type " + w.back());
            }
            files.push_back(std::move(file));
        } else if (command == "TRACK") {
            SheetTrack t;
            unsigned number = 0;
            if (files.empty() || w.size() < 3 || !parseNumber(w[1], 99, &number) || number == 0 ||
                !trackMode(upper(w[2]), &t)) {
                return fail("bad TRACK line");
            }
            if (!tracks.empty() && number <= tracks.back().track.number) {
                return fail("track numbers must rise");
            }
            t.track.number = static_cast<uint8_t>(number);
            t.file = static_cast<int>(files.size()) - 1;
            tracks.push_back(t);
        } else if (command == "INDEX" || command == "PREGAP" || command == "POSTGAP") {
            const bool isIndex = command == "INDEX";
            uint32_t frames = 0;
            unsigned index = 0;
            if (tracks.empty() || w.size() < (isIndex ? 3u : 2u) ||
                !parseTime(w[isIndex ? 2 : 1], &frames) ||
                (isIndex && !parseNumber(w[1], 99, &index))) {
                return fail("bad " + command + " line");
            }
            SheetTrack& t = tracks.back();
            if (isIndex && t.file != static_cast<int>(files.size()) - 1) {
                // The track's sound is in a later file than its TRACK line
                // (sheets that keep each pause at the end of the file before):
                // the track moves to that file, and the pause stays at the end
                // of the previous file, that is at the end of the track before.
                t.file = static_cast<int>(files.size()) - 1;
                t.index0 = -1;
            }
            if (!isIndex) {
                (command == "PREGAP" ? t.pregap : t.postgap) = frames;
            } else if (index == 0) {
                t.index0 = frames;
            } else if (index == 1) {
                t.index1 = frames;
            }
        } else if (command == "FLAGS") {
            if (!tracks.empty()) {
                for (size_t k = 1; k < w.size(); ++k) {
                    const std::string flag = upper(w[k]);
                    tracks.back().track.copyPermitted |= flag == "DCP";
                    tracks.back().track.preEmphasis |= flag == "PRE";
                }
            }
        }
        // REM, TITLE, PERFORMER, CATALOG, ISRC and the rest describe, not lay out.
    }
    if (tracks.empty()) {
        return fail("no tracks");
    }
    for (const SheetTrack& t : tracks) {
        if (t.index1 < 0) {
            return fail("track " + std::to_string(t.track.number) + " has no INDEX 01");
        }
    }
    // Reasons found past the parsing name the sheet, without a line.
    std::string why;
    auto failWith = [&] {
        *error = path;
        error->append(": ").append(why);
        return false;
    };
    for (SheetFile& file : files) {
        if (!openFile(sheetDir, &file, &why)) {
            return failWith();
        }
        layout->files.push_back(file.path);
    }
    if (!layOut(files, tracks, layout, &why)) {
        return failWith();
    }
    return true;
}
