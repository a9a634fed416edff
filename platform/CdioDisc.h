#pragma once
// A disc that the library reads: the disc in a CD device, or an image the
// library opens (CUE/BIN, cdrdao TOC, NRG: see the openers in
// platform/CdImageOpener.h).
//
// The table of contents is the library's. Audio comes from plain sector
// reads (the bytes as stored in an image, the drive's order on a device), or
// with CdReadSettings::jitterCorrected through a jitter-correcting reader
// (platform/CdParanoiaReader.h) made on the first read that needs it. An
// image is unchanged while the file opened and the data file the library
// read stay as they were; a device while it reports no media change.
//
// Threads: as platform/CdDisc.h.

#include "platform/CdDisc.h"
#include "platform/CdImageFiles.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// The library's handle on a device or an image, under the library's own tag.
typedef struct _CdIo CdIo_t; // NOLINT(bugprone-reserved-identifier)
class CdParanoiaReader;

class CdioDisc : public CdDisc {
  public:
    // The disc in the device at path; null when the device cannot be opened.
    static std::unique_ptr<CdDisc> openDevice(const std::string& path);
    // The image at path that the library opened as cdio, which the disc takes
    // over, with the data files its sheet names (the library's own data
    // file is added); null (cdio destroyed) when cdio is null or memory is
    // short.
    static std::unique_ptr<CdDisc> adoptImage(CdIo_t* cdio, const std::string& path,
                                              const std::vector<std::string>& dataFiles = {});
    ~CdioDisc() override;

    bool unchanged() override;
    int32_t leadOut() const override { return lastLeadOut; }
    uint32_t readToc(CdToc* toc) override;
    bool readAudio(uint32_t first, uint32_t frames, const CdReadSettings& settings,
                   uint8_t* out) override;
    void settingsChanged() override;
    std::vector<std::string> sourceFiles() const override { return files.names(); }

  private:
    CdioDisc(CdIo_t* handle, bool image, CdImageFiles imageFiles);

    CdIo_t* cdio;
    bool isImage;
    CdImageFiles files; // an image's, as opened
    int32_t lastLeadOut = 0;
    std::unique_ptr<CdParanoiaReader> jitter;
};
