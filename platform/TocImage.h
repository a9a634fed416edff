#pragma once
// cdrdao TOC images, read by the library.
//
// The library looks for the files a TOC names relative to the current
// directory, not to the TOC. A TOC naming a file by a relative path (in a
// FILE, AUDIOFILE or DATAFILE line) is opened from a temporary copy, made in
// $TMPDIR or /tmp, that puts the TOC's folder before each relative name; the
// copy is removed once the library has read it. The copy holds the first
// megabyte of the TOC (a TOC is a few kilobytes). When no temporary file can
// be made, the TOC itself is opened; when the copy cannot be written, none
// is.
//
// Threads: expects the caller to hold cdLayerMutex (platform/CdDriveRegistry.h).

#include "platform/CdDisc.h"

#include <memory>
#include <string>

// The image of the TOC at path; null when the library cannot open it.
std::unique_ptr<CdDisc> openTocImage(const std::string& path);
