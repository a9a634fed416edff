#pragma once
// An image whose CUE sheet the library cannot read (several files, big-endian
// or WAVE audio, a byte-order mark, a data file not named after the sheet:
// platform/CueSheet.h), read through the sheet's own layout.
//
// The table of contents is the layout's. Audio reads give silence for a gap
// and the stored bytes of an audio track, little-endian (big-endian files
// are swapped); a data track cannot be read as audio, as on a drive. There is
// no jitter correction: the read settings are ignored. Each file is held open
// from opening to destruction; the image is unchanged while the sheet and
// every file it names stay as they were.
//
// Threads: as platform/CdDisc.h.

#include "platform/CdDisc.h"
#include "platform/CdImageFiles.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct CueLayout;

class CueLayoutImage : public CdDisc {
  public:
    // Whether the CUE sheet at path, whose text is given, needs this reader:
    // cueSheetNeedsLayout, or a sheet name whose ".cue" the library does not
    // take (only ".cue" and ".CUE").
    static bool needed(const std::string& text, const std::string& path);
    // Opens the sheet at path, laid out as given. Null when a file it names
    // cannot be opened (the reason goes to standard error).
    static std::unique_ptr<CdDisc> open(const std::string& path,
                                        std::unique_ptr<CueLayout> sheetLayout);
    ~CueLayoutImage() override;

    bool unchanged() override { return files.unchanged(); }
    std::vector<std::string> sourceFiles() const override { return files.names(); }
    int32_t leadOut() const override;
    uint32_t readToc(CdToc* toc) override;
    bool readAudio(uint32_t first, uint32_t frames, const CdReadSettings& settings,
                   uint8_t* out) override;

  private:
    explicit CueLayoutImage(std::unique_ptr<CueLayout> sheetLayout);

    std::unique_ptr<CueLayout> layout;
    std::vector<int> descriptors; // one per layout file, in its order
    CdImageFiles files;
};
