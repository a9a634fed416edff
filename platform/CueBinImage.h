#pragma once
// CUE/BIN images that the library reads: a sheet with one raw little-endian
// data file named after the sheet ("x.cue" reads "x.bin", whatever its FILE
// line says), or a BIN file on its own. Sheets the library cannot read go to
// platform/CueLayoutImage.h instead (CdImageOpener decides).
//
// Threads: expects the caller to hold cdLayerMutex (platform/CdDriveRegistry.h).

#include "platform/CdDisc.h"

#include <memory>
#include <string>

// The image of the sheet or BIN file at path; null when the library cannot
// open it.
std::unique_ptr<CdDisc> openCueBinImage(const std::string& path);
