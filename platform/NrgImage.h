#pragma once
// NRG images, read by the library.
//
// Threads: expects the caller to hold cdLayerMutex (platform/CdDriveRegistry.h).

#include "platform/CdDisc.h"

#include <memory>
#include <string>

// The image at path; null when the library cannot open it.
std::unique_ptr<CdDisc> openNrgImage(const std::string& path);
