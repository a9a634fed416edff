#pragma once
// The header that travels with every audio buffer handed to a wave device, and
// the preparation calls shared by the wave-out and wave-in devices.
//
// A header is prepared for one device before it is queued and unprepared
// after the device has given it back. Preparation is bookkeeping only on this
// platform (SDL needs no locked pages), but the rules hold: a header that is
// still queued cannot be unprepared.

#include <cstdint>

struct WaveOutPort; // an open wave-out device (platform/WaveOut.h)
struct WaveInPort;  // an open wave-in device (platform/WaveIn.h)
using WaveOutHandle = WaveOutPort*;
using WaveInHandle = WaveInPort*;

struct WaveHeader {
    uint8_t* data = nullptr;
    uint32_t bufferLength = 0;  // bytes at data
    uint32_t bytesRecorded = 0; // wave-in: bytes filled by the device
    uintptr_t user = 0;         // owner's word; AudioBuffer keeps its block here
    uint32_t flags = 0;         // kWaveHeader* bits
    uint32_t loops = 0;
    WaveHeader* next = nullptr; // reserved for the device
    uintptr_t reserved = 0;     // reserved for the device
};

// The header size that the engine tells the wave calls: the size of the
// record as the calls' interface fixes it, not sizeof(WaveHeader).
inline constexpr uint32_t kWaveHeaderSize = 32;

constexpr uint32_t kWaveHeaderDone = 0x01;
constexpr uint32_t kWaveHeaderPrepared = 0x02;
constexpr uint32_t kWaveHeaderInQueue = 0x10;

// Result codes of the wave calls (0 is success).
constexpr int kWaveOk = 0;
constexpr int kWaveError = 1;     // unspecified failure
constexpr int kWaveBadDevice = 2; // no such device
constexpr int kWaveInvalidHandle = 5;
constexpr int kWaveNoMemory = 7;
constexpr int kWaveInvalidParam = 11;
constexpr int kWaveUnprepared = 34;   // header not prepared
constexpr int kWaveStillPlaying = 33; // header still queued
constexpr int kWaveBadFormat = 32;    // a format the device cannot take

// size is the header size the caller believes in (32 in the classic API);
// any size is accepted. Each returns kWaveOk or an error code.
int waveOutPrepareHeader(WaveOutHandle device, WaveHeader* header, uint32_t size);
int waveOutUnprepareHeader(WaveOutHandle device, WaveHeader* header, uint32_t size);
int waveInPrepareHeader(WaveInHandle device, WaveHeader* header, uint32_t size);
int waveInUnprepareHeader(WaveInHandle device, WaveHeader* header, uint32_t size);
