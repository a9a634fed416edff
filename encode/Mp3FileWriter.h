#pragma once
// Encodes 16-bit PCM to MP3 through the encoder library and appends a
// 128-byte ID3v1.1 tag.
//
// The encoder settings follow from the input format alone: the bitrate is
// the entry of kBitrates nearest to rate x bits x channels / 11025 (a tie
// keeps the smaller entry); 32000, 44100 and 48000 Hz use the record's plain
// MP3 variant, every other rate the extended one (see makeConfig).
//
// PCM is fed to the encoder straight from pending, samplesPerChunk samples
// per call; up to one chunk is kept back between Writes, and the empty
// buffer that ends Run's stream flushes what is left in one call. The
// output of one Write is written with one stdio call.
//
// The stream opens with an Info frame (encoder delay and padding, frame and
// byte counts; see Mp3InfoFrame.h), so that players trim the encoder's delay
// and know the exact length: room for it is made before the first encoded
// byte, and Finish writes it there once the encoder is flushed. With a
// library that cannot tell those figures the stream has no Info frame.
//
// After a failed Begin (no library, the encoder refused the settings) Encode
// and Finish return false without calling into the library.
//
// Threads: as OutputFile; each writer loads its own library, so several
// writers may encode at once on different threads.

#include "encode/OutputFile.h"
#include "platform/LameEncoder.h"

#include <array>
#include <cstdint>
#include <memory>
#include <sys/types.h>

class Mp3FileWriter : public OutputFile {
  public:
    static constexpr std::array<uint16_t, 14> kBitrates = {8,  16, 24, 32,  40,  48,  56,
                                                           64, 80, 96, 112, 128, 144, 160};
    static constexpr uint32_t kTagBytes = 128;
    static constexpr const char* kLoadFailedMessage = "Error loading LAME encoder dll!";

    Mp3FileWriter();
    ~Mp3FileWriter() override;

    // Loads the library and starts an encoder stream for format.
    bool Begin() override;
    // Encodes whole chunks of input (see the header comment).
    bool Encode(AudioBuffer& input, AudioBuffer& out) override;
    // Flushes the encoder, unloads the library and appends the tag.
    bool Finish() override;

    // The bitrate (kbit/s) chosen for a PCM format.
    static uint16_t chooseBitrate(const WaveFormat& format);
    // The configuration record Begin passes to the encoder.
    static BeConfig makeConfig(const WaveFormat& format);
    // Whether an MP3 file can hold the sample rate (one of MPEG's).
    static bool holdsSampleRate(uint32_t rate) { return mpegDefinesRate(rate); }
    // MPEG's sample rates as text, ascending: "8000, 11025, ... and 48000"
    // with separator ", " and lastSeparator " and ".
    static std::string sampleRateList(const std::string& separator,
                                      const std::string& lastSeparator);
    // The sample rate of the MP3 file made from PCM of this format: the
    // PCM's own rate when an MP3 can hold it, otherwise the rate the
    // encoder resamples to (it is asked); 0 when the encoder cannot be
    // loaded or refuses the format.
    static uint32_t encodedRate(const WaveFormat& format);
    // The ID3v1.1 tag: the first 30 bytes of the path as the title, fixed
    // artist, album and year, track 1, genre 1.
    static std::array<uint8_t, kTagBytes> makeTag(const std::string& path);

    // Samples per encoder call, as the encoder asked in Begin (0 before).
    uint32_t SamplesPerChunk() const { return samplesPerChunk; }

  protected:
    // Encoder calls made since Begin (for tests of the chunking).
    uint32_t chunkCalls = 0;
    int32_t leftoverBytes = -1;

  private:
    // Counts encoded bytes into the stream's figures. Returns the bytes of
    // room to make for the Info frame before these bytes (0 but for the
    // first encoded bytes of the stream).
    uint32_t noteEncoded(const uint8_t* bytes, uint32_t count);
    // Writes the Info frame into its room at streamStart and returns to the
    // end of the file; true with no room made.
    bool writeInfoFrame();
    // One line on standard error naming the file and the encoder call that
    // failed.
    void logEncoderFailure() const;

    std::unique_ptr<EncoderLibrary> encoderLibrary;
    BeConfig config{};
    uint32_t samplesPerChunk = 0;
    uint32_t outputBufferSize = 0;
    BeStream encoderStream = 0;
    bool streamOpen = false; // an encoder stream is running
    std::unique_ptr<uint8_t[]> outputBuffer;
    uint32_t outputBytes = 0;
    // The stream's Info frame: where it goes (-1: none is made), its size
    // (0 until the first encoded bytes), the first audio frame's header and
    // the figures gathered from the encoded bytes.
    off_t streamStart = -1;
    uint32_t infoFrameBytes = 0;
    std::array<uint8_t, 4> firstHeader{};
    uint64_t streamBytes = 0;
    uint16_t musicCrc = 0;
};
