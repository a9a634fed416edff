#pragma once
// Opens a registered disc image with the opener for its kind, told by the
// end of the file name in any case: ".cue" and ".bin" CUE/BIN
// (platform/CueBinImage.h), ".toc" cdrdao TOC (platform/TocImage.h), ".nrg"
// NRG (platform/NrgImage.h). For any other name the library guesses the kind
// from the file. A sheet named ".cue" or ".CUE" (these two spellings only)
// that the library cannot read goes to platform/CueLayoutImage.h.
//
// Threads: expects the caller to hold cdLayerMutex (platform/CdDriveRegistry.h).

#include "platform/CdDisc.h"

#include <memory>
#include <string>

// The image at path; null when it cannot be opened.
std::unique_ptr<CdDisc> openCdImage(const std::string& path);
