#include "platform/CdDisc.h"

namespace {

void putBigEndian(uint8_t* out, uint32_t v) {
    out[0] = static_cast<uint8_t>(v >> 24);
    out[1] = static_cast<uint8_t>(v >> 16);
    out[2] = static_cast<uint8_t>(v >> 8);
    out[3] = static_cast<uint8_t>(v);
}

} // namespace

void CdDisc::putTocTrack(CdToc* toc, uint32_t index, uint8_t number, uint8_t control,
                         uint32_t start) {
    CdTocDescriptor& d = toc->tracks[index];
    d.adrControl = static_cast<uint8_t>(0x10 | control);
    d.trackNumber = number;
    putBigEndian(d.address, start);
}

void CdDisc::endToc(CdToc* toc, uint32_t count, uint8_t lastControl, uint32_t leadOutFrame,
                    uint8_t firstTrack, uint8_t lastTrack) {
    putTocTrack(toc, count, kCdLeadOutTrack, lastControl, leadOutFrame);
    const uint32_t length = 2 + 8 * (count + 1);
    toc->length[0] = static_cast<uint8_t>(length >> 8);
    toc->length[1] = static_cast<uint8_t>(length);
    toc->firstTrack = firstTrack;
    toc->lastTrack = lastTrack;
}
