#pragma once
// What an item of the play list is: an audio file told by its extension
// (WAV, MP3, WMA, FLAC, Ogg, Opus or M4A), or a track of the audio CD.
//
// A CD row has the path kCdRowPath; its name, "Track-NN" of the 0-based
// audio-track index, is the only link to its track. The item that a CD row
// stands for (what the conversion job loads) is that name.
//
// The places that tell a file's kind read its extension in different ways,
// and each keeps its own; the rule is always chosen by the caller:
//  - ExtensionRule::LastThree, any case: the conversion job's source and
//    target, and so the Convert dialog's check. "songwav" is a WAV file here
//    and "songflac" a FLAC file: the name's ending is compared with each
//    extension, so the four-letter ones (flac, opus) take four characters.
//  - ExtensionRule::LastThree, as typed: the Convert command's save dialog,
//    which offers the other format; "SONG.WAV" is of no known kind there.
//  - ExtensionRule::OfFileName, any case: the rows of the play list, added,
//    dropped or played alike (audioFileKind in player/PlayRow.h), and
//    velumo-convert's output name.
// Only ASCII letters differ by case.
//
// Track names: trackName formats one; a name is a track name when it is
// "Track-" (the word in any case) and exactly two digits, so that a file
// such as "Tracklist.txt" is never taken for a track. Two readings of the
// index exist:
//  - trackIndexOfName: the digits after "Track-", at most two (the job);
//  - trackIndexOfTitle: the last two characters as a number (the player).
//
// Pure functions, safe on any thread.

#include <string>

// The path of every CD row.
inline constexpr const char* kCdRowPath = "CDROM";

enum class FileKind { Other, Wave, Mp3, Wma, Flac, Ogg, Opus, M4a };

enum class ExtensionRule {
    // The end of the path: its last three characters, or four for the
    // four-letter extensions.
    LastThree,
    // What follows the last '.' of the whole path; nothing when there is no
    // '.' or the path begins with its last one.
    AfterLastDot,
    // What follows the last '.' of the file name (after the last '/');
    // nothing when there is no '.' or the name begins with its last one.
    OfFileName,
};

enum class CaseRule { AnyCase, AsTyped };

// The kind named by the extension under rule: "wav"; "mp3"; "wma"; "flac";
// "ogg" and "oga" (Ogg Vorbis, or whatever else the Ogg file holds);
// "opus"; "m4a" (AAC or ALAC). Other for any other extension.
FileKind fileKind(const std::string& path, ExtensionRule rule,
                  CaseRule caseRule = CaseRule::AnyCase);

// The extension that named path's kind under rule, as it is written in path
// ("WAV" for "LOUD.WAV"); empty for FileKind::Other. What is left when it is
// cut off ends in the dot (or, for LastThree, in whatever precedes it).
std::string kindExtension(const std::string& path, ExtensionRule rule,
                          CaseRule caseRule = CaseRule::AnyCase);

// WAV files are read by the WAVE reader, every other kind by the media
// reader.
inline bool readByMediaReader(FileKind kind) {
    return kind != FileKind::Other && kind != FileKind::Wave;
}

// True for the path of a CD row (compared exactly).
bool isCdRow(const std::string& path);
// The item a row stands for: its path, or its name for a CD row.
std::string rowItem(const std::string& name, const std::string& path);

// "Track-%02d" of index: "Track-00", "Track-07", "Track-12".
std::string trackName(int index);
// True when name is "Track-" (any case) followed by exactly two digits.
bool isTrackName(const std::string& name);
// The index of a "Track-NN" name: up to two digits right after "Track-";
// 0 when no digit follows or the sixth character is not '-'.
int trackIndexOfName(const std::string& name);
// The index of a track title: the last two characters (the whole title when
// shorter) read as atoi reads them, so "Track-07" is 7 and "Track-x" is 0.
int trackIndexOfTitle(const std::string& title);

// True for a source the conversion job can load: an audio file of a known
// kind by ExtensionRule::LastThree (any case), otherwise a track name.
bool isLoadableItem(const std::string& item);
