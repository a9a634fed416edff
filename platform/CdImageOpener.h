#pragma once
// Opens a registered disc image with the opener for its kind, told by the
// end of the file name in any case: ".cue" CUE sheets, ".bin" BIN files
// (platform/CueBinImage.h), ".toc" cdrdao TOC (platform/TocImage.h), ".nrg"
// NRG (platform/NrgImage.h). For any other name the library guesses the kind
// from the file. A CUE sheet is laid out by platform/CueSheet.h first; the
// library reads it when it can (platform/CueBinImage.h), otherwise
// platform/CueLayoutImage.h does.
//
// An image describes a real disc or is refused, the reason on standard
// error naming the image: the image file and every data file it names must
// be regular files (a FIFO, a device, a directory or a socket, directly or
// through a symbolic link, is refused before it is opened), every track
// must start before the end of the data, and the disc may hold no more
// than kCdMaxDiscFrames.
//
// Threads: expects the caller to hold cdLayerMutex (platform/CdDriveRegistry.h).

#include "platform/CdDisc.h"

#include <memory>
#include <string>

// The image at path; null when it cannot be opened.
std::unique_ptr<CdDisc> openCdImage(const std::string& path);
