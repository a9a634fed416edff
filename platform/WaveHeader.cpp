#include "platform/WaveHeader.h"

namespace {

int prepare(const void* device, WaveHeader* header) {
    if (device == nullptr) {
        return kWaveInvalidHandle;
    }
    if (header == nullptr || header->data == nullptr) {
        return kWaveInvalidParam;
    }
    header->flags |= kWaveHeaderPrepared;
    return kWaveOk;
}

int unprepare(const void* device, WaveHeader* header) {
    if (device == nullptr) {
        return kWaveInvalidHandle;
    }
    if (header == nullptr) {
        return kWaveInvalidParam;
    }
    if (header->flags & kWaveHeaderInQueue) {
        return kWaveStillPlaying;
    }
    header->flags &= ~kWaveHeaderPrepared;
    return kWaveOk;
}

} // namespace

int waveOutPrepareHeader(WaveOutHandle device, WaveHeader* header, uint32_t) {
    return prepare(device, header);
}

int waveOutUnprepareHeader(WaveOutHandle device, WaveHeader* header, uint32_t) {
    return unprepare(device, header);
}

int waveInPrepareHeader(WaveInHandle device, WaveHeader* header, uint32_t) {
    return prepare(device, header);
}

int waveInUnprepareHeader(WaveInHandle device, WaveHeader* header, uint32_t) {
    return unprepare(device, header);
}
