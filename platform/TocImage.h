#pragma once
// cdrdao TOC images, read by the library.
//
// The library looks for the files a TOC names relative to the current
// directory, not to the TOC, and takes the length of an audio file line
// that gives a start but no length as the whole file's. The TOC is read
// whole (at most CdImageFiles::kTextLimit bytes), every file it names in a
// FILE, AUDIOFILE or DATAFILE line must be a regular file, and a TOC that
// needs it is opened from a temporary copy, made in $TMPDIR or /tmp, that
// puts the TOC's folder before each relative name and gives such a line the
// length of the data after its start; the copy is removed once the library
// has read it. When no temporary file can be made, the TOC itself is
// opened; when the copy cannot be written, none is.
//
// Threads: expects the caller to hold cdLayerMutex (platform/CdDriveRegistry.h).

#include "platform/CdDisc.h"

#include <memory>
#include <string>

// The image of the TOC at path; null when the library cannot open it.
std::unique_ptr<CdDisc> openTocImage(const std::string& path);
