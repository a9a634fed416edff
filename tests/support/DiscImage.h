#pragma once
// Builds single-file CUE/BIN disc images with known contents, for reading
// back through the CD layer. Every track is stored at 2352 bytes per sector;
// audio is little-endian 16-bit stereo as on a disc, data tracks are
// MODE1/2352 sectors (sync, header, payload; no error correction).

#include <cstdint>
#include <string>
#include <vector>

namespace testing_support {

constexpr uint32_t kCdFrameBytes = 2352;

class DiscImage {
  public:
    // An audio track of `frames` frames of deterministic noise (from seed).
    DiscImage& audio(uint32_t frames, uint32_t seed);
    // An audio track of a stereo sine (hz left, 1.5 x hz right) at half
    // scale: audio whose byte order other readers can recognise.
    DiscImage& tone(uint32_t frames, uint32_t hz);
    // An audio track holding these bytes of 16-bit stereo, padded with zeros
    // to whole frames.
    DiscImage& pcm(std::vector<uint8_t> bytes);
    // An audio track of silence stored sparsely (a hole in the BIN), for
    // very long tracks.
    DiscImage& silentAudio(uint32_t frames);
    // A MODE1/2352 data track.
    DiscImage& data(uint32_t frames);

    // Writes dir/name.cue and dir/name.bin; returns the path of the CUE sheet.
    std::string write(const std::string& dir, const std::string& name) const;
    // Writes dir/name.bin and a cdrdao TOC dir/name.toc of the audio tracks
    // (one FILE line each, a start and a length; the last track's line
    // without its length unless lastLength); returns the path of the TOC.
    std::string writeToc(const std::string& dir, const std::string& name,
                         bool lastLength = true) const;

    // The bytes stored for the index-th track (counting data tracks too).
    // Empty for a sparse track (all zero, of trackFrames(index) frames).
    std::vector<uint8_t> trackBytes(size_t index) const;
    uint32_t trackFrames(size_t index) const { return tracks.at(index).frames; }
    bool isData(size_t index) const { return tracks.at(index).isData; }
    size_t trackCount() const { return tracks.size(); }
    // The first frame of the index-th track (its logical block address).
    uint32_t trackStart(size_t index) const;
    uint32_t totalFrames() const;

  private:
    void writeBin(const std::string& path) const;
    struct Track {
        uint32_t frames = 0;
        uint32_t seed = 0;
        bool isData = false;
        bool sparse = false;
        bool tone = false;
        std::vector<uint8_t> content{}; // the bytes of a pcm track
    };
    std::vector<Track> tracks;
};

// "mm:ss:ff" of a frame count, as a CUE sheet writes it.
std::string cueTime(uint32_t frames);

} // namespace testing_support
