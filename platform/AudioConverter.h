#pragma once
// The audio compression manager: synchronous conversion streams from one wave
// format to a PCM format, with the classic call sequence
//     acmStreamOpen -> acmStreamSize -> acmStreamPrepareHeader
//     -> acmStreamConvert -> acmStreamUnprepareHeader -> acmStreamClose.
//
// Sources it understands (anything else fails at open with kAcmNotPossible):
//  - PCM: 8-bit unsigned, 16, 24, 32 and 64-bit signed integer; IEEE float 32
//    and 64-bit; 1 to 8 channels; 1000 to 768000 frames per second. A sample
//    size that is not a whole number of bytes (5, 12, 20 bits) sits
//    left-justified in the next whole byte count, which the block alignment
//    must show (channels x container bytes), and reads as that container;
//  - WAVE_FORMAT_EXTENSIBLE whose sub-format is PCM or IEEE float, with valid
//    bits (extra bytes 0 and 1) no more than the container holds;
//  - A-law, mu-law, MS ADPCM, IMA ADPCM, GSM 6.10 (65-byte blocks) and MPEG
//    layer 3, decoded and then converted in the same stream.
// Targets: PCM of 8, 16, 24 or 32 bits, or 32-bit IEEE float, 1 to 8
// channels, with the derived block alignment.
//
// A stream keeps its state from one convert call to the next: the resampler's
// history, the MPEG parser's partial frame, and any output that did not fit
// the caller's destination. Down-mixing to one channel averages the channels,
// so it never clips; other channel changes use the usual speaker mixing.
//
// Threads: a stream is used by one thread at a time; different streams are
// independent.

#include <cstdint>

struct WaveFormat;
struct AcmStreamState;
using AcmStream = AcmStreamState*;

// Result codes (0 is success).
constexpr int kAcmOk = 0;
constexpr int kAcmInvalidHandle = 5; // MMSYSERR_INVALHANDLE
constexpr int kAcmNoMemory = 7;      // MMSYSERR_NOMEM
constexpr int kAcmInvalidFlag = 10;  // MMSYSERR_INVALFLAG
constexpr int kAcmInvalidParam = 11; // MMSYSERR_INVALPARAM
constexpr int kAcmNotPossible = 512; // ACMERR_NOTPOSSIBLE
constexpr int kAcmUnprepared = 514;  // ACMERR_UNPREPARED

// acmStreamOpen flags.
constexpr uint32_t kAcmOpenQuery = 0x01;       // only ask whether it is possible
constexpr uint32_t kAcmOpenAsync = 0x02;       // not supported: kAcmInvalidFlag
constexpr uint32_t kAcmOpenNonRealtime = 0x04; // accepted, no effect

// acmStreamSize flags.
constexpr uint32_t kAcmSizeSource = 0x00;      // given source bytes, largest output
constexpr uint32_t kAcmSizeDestination = 0x01; // given output bytes, source that fits

// acmStreamConvert flags.
constexpr uint32_t kAcmConvertBlockAlign = 0x04; // consume whole source blocks only
constexpr uint32_t kAcmConvertStart = 0x10;      // forget the state of earlier calls first
constexpr uint32_t kAcmConvertEnd = 0x20;        // also drain everything held back

// Header status bits.
constexpr uint32_t kAcmHeaderDone = 0x00010000;
constexpr uint32_t kAcmHeaderPrepared = 0x00020000;
constexpr uint32_t kAcmHeaderInQueue = 0x00100000;

struct AcmStreamHeader {
    uint32_t cbStruct = sizeof(AcmStreamHeader);
    uint32_t fdwStatus = 0;
    uintptr_t dwUser = 0;
    uint8_t* pbSrc = nullptr;
    uint32_t cbSrcLength = 0;
    uint32_t cbSrcLengthUsed = 0; // set by convert: source bytes consumed
    uintptr_t dwSrcUser = 0;
    uint8_t* pbDst = nullptr;
    uint32_t cbDstLength = 0;
    uint32_t cbDstLengthUsed = 0; // set by convert: output bytes written
    uintptr_t dwDstUser = 0;
    uintptr_t dwReservedDriver[10] = {};
};

// Opens a stream converting source to target. Both records are read for
// 18 + cbSize bytes (cbSize must not exceed largestFormatSize() - 18). With
// kAcmOpenQuery, stream may be null and no stream is created.
int acmStreamOpen(AcmStream* stream, const WaveFormat* source, const WaveFormat* target,
                  uint32_t flags);
// Closes the stream. Headers still prepared on it need no unprepare after.
int acmStreamClose(AcmStream stream, uint32_t flags);

// kAcmSizeSource: the largest number of output bytes that one convert call
// of inputBytes source bytes can produce now, counting what the stream holds
// from earlier calls. kAcmSizeDestination: the source bytes whose output is
// sure to fit in inputBytes output bytes (whole source blocks).
int acmStreamSize(AcmStream stream, uint32_t inputBytes, uint32_t* outputBytes, uint32_t flags);

int acmStreamPrepareHeader(AcmStream stream, AcmStreamHeader* header, uint32_t flags);
int acmStreamUnprepareHeader(AcmStream stream, AcmStreamHeader* header, uint32_t flags);

// Converts the header's source into its destination. With kAcmConvertBlockAlign
// only whole source blocks are consumed (the rest is left, cbSrcLengthUsed
// says how much was taken); MPEG data is framed by the stream itself and is
// always consumed whole. Corrupt compressed blocks are skipped, as a player
// would. Output that does not fit the destination is kept and delivered first
// by the next call.
int acmStreamConvert(AcmStream stream, AcmStreamHeader* header, uint32_t flags);
