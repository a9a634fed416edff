#pragma once
// The wave-in (capture) device: fills the headers queued on it, in order,
// with captured PCM and hands each back through a callback once it is full.
//
// Built on SDL2 capture. SDL's audio thread only copies captured bytes into
// the queued headers (bytes captured while no header is queued are dropped)
// and marks full headers. Every message of the callback (WIM_OPEN, WIM_DATA
// in the order the headers were added, WIM_CLOSE last) is delivered on a
// notifier thread that the layer runs for each open device, never inside
// SDL's audio thread. The callback may call waveInAddBuffer and the prepare
// calls of its own device; waveInReset and waveInClose from inside the
// callback are refused (they wait for the notifier thread).
//
// All calls are thread-safe. Results are kWaveOk (0) or one of the error
// codes of platform/WaveHeader.h.

#include "platform/WaveHeader.h"

#include <cstdint>
#include <string>

struct WaveFormat; // the 18-byte format record (base/WaveFormat.h)

constexpr unsigned kWimOpen = 0x3BE;          // the device was opened
constexpr unsigned kWimClose = 0x3BF;         // the device is closing; the last message
constexpr unsigned kWimData = 0x3C0;          // param1: the WaveHeader* handed back
constexpr unsigned kWaveMapper = 0xFFFFFFFFu; // the default capture device

// Called on the notifier thread with the instance word given to waveInOpen.
using WaveInCallback = void (*)(WaveInHandle device, unsigned message, void* instance,
                                uintptr_t param1, uintptr_t param2);

// The capabilities record of a capture device (48 bytes, as classic callers
// expect).
struct WaveInCaps {
    uint16_t manufacturerId = 0;
    uint16_t productId = 0;
    uint32_t driverVersion = 0;
    char name[32] = {};   // NUL-terminated, cut to fit
    uint32_t formats = 0; // kWaveInFormat* bits the device can capture
    uint16_t channels = 0;
    uint16_t reserved = 0;
};
static_assert(sizeof(WaveInCaps) == 48, "WaveInCaps keeps the classic layout");

// Standard format bits: 8 and 16-bit mono and stereo at the 11025, 22050,
// 44100 and 96000 Hz rates, all of which SDL converts to.
constexpr uint32_t kWaveInAllStandardFormats = 0x000FFFFF;

// Number of capture devices, monitors of the sound server's outputs
// included; 0 when there is none or audio cannot start (waveInErrorText
// says why). A later call tries the audio drivers afresh.
unsigned waveInGetNumDevs();
// Why there was no capture device or it could not be opened, in SDL's
// words, for the user; "" when that never happened.
std::string waveInErrorText();
// Whether the device of an open handle has gone away (unplugged, the sound
// server gone). It captures nothing more: from the moment it was lost no
// byte is added to any header. False for a null handle.
bool waveInDeviceLost(WaveInHandle handle);
// Bytes of sound the device of an open handle has captured since it was
// opened, up to its loss if it was lost; 0 for a null handle. Whatever
// was captured reaches a header unless a reset drops it for want of one.
// For diagnostics and tests.
uint64_t waveInCapturedBytes(WaveInHandle handle);
// Fills caps for a device index (or kWaveMapper); size is the record size
// the caller believes in, at least 48.
int waveInGetDevCaps(unsigned deviceId, WaveInCaps* caps, uint32_t size);

// Opens a capture device (kWaveMapper: the default one) in the given PCM
// format (8-bit unsigned, 16 or 32-bit signed, or 32-bit float; any channel
// count and rate SDL converts to). Capture does not run until waveInStart.
// kWaveBadFormat for other formats; kWaveBadDevice (SDL's reason on
// standard error) when no device can be opened.
int waveInOpen(WaveInHandle* handle, unsigned deviceId, const WaveFormat* format,
               WaveInCallback callback, void* instance);

// Queues a prepared header to be filled; bytesRecorded starts at 0.
int waveInAddBuffer(WaveInHandle handle, WaveHeader* header, uint32_t size);

// Starts and stops capture. Stop hands back the header being filled (with
// what it holds) and keeps the others queued.
int waveInStart(WaveInHandle handle);
int waveInStop(WaveInHandle handle);

// Stops capture and hands back every queued header, the partly filled one
// with bytesRecorded set, in queue order; captured bytes still waiting for
// a header are first moved into the queued ones, and what they cannot take
// is dropped. Their WIM_DATA messages have all
// been delivered when reset returns. Refused (kWaveError) on the notifier
// thread.
int waveInReset(WaveInHandle handle);

// Closes the device: kWaveStillPlaying while headers are queued (reset
// first). WIM_CLOSE is delivered before close returns, after which the
// handle is invalid. Refused (kWaveError) on the notifier thread.
int waveInClose(WaveInHandle handle);
