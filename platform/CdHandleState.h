#pragma once
// What a drive handle (CdHandle in platform/CdLibrary.h) is: the open disc of
// one drive and the read parameters set on it.
//
// Threads: a handle belongs to one thread at a time, its owner's, from
// GetCDHandle to CloseCDHandle; while parked (platform/CdHandlePool.h) it
// belongs to the pool. It is made and deleted with cdLayerMutex held.

#include "platform/CdDisc.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

struct CdHandleState {
    std::string path; // the image file or the device
    bool isImage = false;
    std::unique_ptr<CdDisc> disc; // never null
    uint32_t overlapFrames = 0;
    uint32_t compareFrames = 0;
    std::chrono::steady_clock::time_point parkedAt; // when last parked
};
