#include "support/CdTestSupport.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <unistd.h>

namespace {

using testing_support::DiscImage;
using testing_support::kCdFrameBytes;

struct HandleCloser {
    void operator()(CdHandleState* h) const { CloseCDHandle(h); }
};
using Handle = std::unique_ptr<CdHandleState, HandleCloser>;
struct BufferFree {
    void operator()(CdTrackBuffer* b) const { CdTrackBuffer::destroy(b); }
};
using TrackBuffer = std::unique_ptr<CdTrackBuffer, BufferFree>;

Handle firstDrive() {
    CdDriveList list{};
    if (GetCDList(&list) < 1) {
        return nullptr;
    }
    CdHandleRequest request;
    request.hostAdapter = list.drives[0].hostAdapter;
    request.target = list.drives[0].target;
    request.lun = list.drives[0].lun;
    return Handle(GetCDHandle(&request));
}

std::vector<uint8_t> readFrames(CdHandle h, uint32_t first, uint32_t count, uint32_t* result) {
    TrackBuffer b(CdTrackBuffer::create(26));
    b->startFrame = first;
    b->numFrames = count;
    *result = ReadCDAudioLBA(h, b.get());
    return std::vector<uint8_t>(b->data(), b->data() + b->len);
}

using CdLibrary = CdImageTest;

TEST_F(CdLibrary, TableOfContentsUsesTheReadTocLayout) {
    DiscImage image;
    image.audio(100, 1).audio(37, 2).data(50);
    std::string cue = install(image);

    CdDriveList list{};
    ASSERT_GE(GetCDList(&list), 1u);
    EXPECT_STREQ(list.drives[0].id, "IMAGE disc.cue");

    Handle h = firstDrive();
    ASSERT_TRUE(h);
    CdToc toc;
    std::memset(&toc, 0xEE, sizeof toc);
    ASSERT_EQ(ReadTOC(h.get(), &toc), kCdOk);
    EXPECT_EQ(toc.length[0] << 8 | toc.length[1], 2 + 8 * 4);
    EXPECT_EQ(toc.firstTrack, 1);
    EXPECT_EQ(toc.lastTrack, 3);
    const uint32_t starts[] = {0, 100, 137, 187};
    const uint8_t numbers[] = {1, 2, 3, kCdLeadOutTrack};
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(toc.tracks[i].trackNumber, numbers[i]);
        EXPECT_EQ(cdTocAddress(toc.tracks[i]), starts[i]);
        EXPECT_EQ(toc.tracks[i].adrControl >> 4, 1);
    }
    // Big-endian on the wire: 137 = 0x89 in the last byte.
    EXPECT_EQ(toc.tracks[2].address[3], 0x89);
    EXPECT_EQ(toc.tracks[2].address[0], 0);
    EXPECT_EQ(toc.tracks[0].adrControl & kCdControlData, 0);
    EXPECT_EQ(toc.tracks[1].adrControl & kCdControlData, 0);
    EXPECT_NE(toc.tracks[2].adrControl & kCdControlData, 0);
    // The rest of the area is cleared.
    EXPECT_EQ(toc.tracks[4].trackNumber, 0);
    EXPECT_EQ(toc.tracks[99].adrControl, 0);
}

TEST_F(CdLibrary, AudioReadsReturnTheStoredBytesAndStayOnTheDisc) {
    DiscImage image;
    image.audio(20, 3).audio(10, 4);
    install(image);
    std::vector<uint8_t> bin = testing_support::readFileBytes(dir.file("disc.bin"));
    Handle h = firstDrive();
    ASSERT_TRUE(h);
    ASSERT_EQ(ModifyCDParms(h.get(), kCdParmOverlap, 3), kCdOk);
    ASSERT_EQ(ModifyCDParms(h.get(), kCdParmCompare, 1), kCdOk);
    EXPECT_EQ(ModifyCDParms(h.get(), 0x27, 1), kCdError);

    uint32_t result = 0;
    std::vector<uint8_t> got = readFrames(h.get(), 16, 7, &result);
    ASSERT_EQ(result, kCdOk);
    EXPECT_EQ(got, std::vector<uint8_t>(bin.begin() + 16 * kCdFrameBytes,
                                        bin.begin() + 23 * kCdFrameBytes));
    // The last frames of the disc, then every range that runs past its end.
    readFrames(h.get(), 23, 7, &result);
    EXPECT_EQ(result, kCdOk);
    for (uint32_t first : {24u, 29u, 30u, 1000u, 0xFFFFFFF0u}) {
        std::vector<uint8_t> none = readFrames(h.get(), first, 7, &result);
        EXPECT_EQ(result, kCdError) << first;
        EXPECT_TRUE(none.empty());
    }
    readFrames(h.get(), 0, 0, &result);
    EXPECT_EQ(result, kCdError);
    readFrames(h.get(), 0, 27, &result); // more than the record holds
    EXPECT_EQ(result, kCdError);

    EXPECT_EQ(ReadCDAudioLBA(nullptr, nullptr), kCdError);
    EXPECT_EQ(ReadTOC(nullptr, nullptr), kCdError);
    EXPECT_EQ(GetCDHandle(nullptr), nullptr);
    CloseCDHandle(nullptr);
}

TEST_F(CdLibrary, JitterCorrectedReadsAgreeWithPlainReads) {
    DiscImage image;
    image.audio(40, 5).tone(30, 440);
    install(image);
    std::vector<uint8_t> bin = testing_support::readFileBytes(dir.file("disc.bin"));
    for (CdReadMethod method : {CdReadMethod::Plain, CdReadMethod::JitterCorrected}) {
        setCdReadMethod(method);
        Handle h = firstDrive();
        ASSERT_TRUE(h);
        ModifyCDParms(h.get(), kCdParmOverlap, 3);
        ModifyCDParms(h.get(), kCdParmCompare, 1);
        for (uint32_t first : {0u, 7u, 33u, 63u}) {
            uint32_t result = 0;
            std::vector<uint8_t> got = readFrames(h.get(), first, 7, &result);
            ASSERT_EQ(result, kCdOk);
            EXPECT_EQ(got, std::vector<uint8_t>(bin.begin() + first * kCdFrameBytes,
                                                bin.begin() + (first + 7) * kCdFrameBytes))
                << "method " << static_cast<int>(method) << " frame " << first;
        }
    }
}

TEST_F(CdLibrary, RegisteredImagesComeFirstInRegistrationOrder) {
    DiscImage a;
    a.audio(10, 1);
    DiscImage b;
    b.audio(20, 2);
    install(a, "first");
    install(b, "second");
    CdDriveList list{};
    ASSERT_GE(GetCDList(&list), 2u);
    EXPECT_STREQ(list.drives[0].id, "IMAGE first.cue");
    EXPECT_STREQ(list.drives[1].id, "IMAGE second.cue");
    CdHandleRequest request;
    request.hostAdapter = list.drives[1].hostAdapter;
    request.target = list.drives[1].target;
    Handle h(GetCDHandle(&request));
    ASSERT_TRUE(h);
    CdToc toc{};
    ASSERT_EQ(ReadTOC(h.get(), &toc), kCdOk);
    EXPECT_EQ(cdTocAddress(toc.tracks[1]), 20u);

    clearDiscImages();
    EXPECT_EQ(GetCDHandle(&request), nullptr);
}

TEST_F(CdLibrary, DamagedImagesGetNoHandle) {
    DiscImage image;
    image.audio(10, 1);
    image.write(dir.path().string(), "nobin");
    ::unlink(dir.file("nobin.bin").c_str());
    testing_support::writeFileBytes(dir.file("garbage.cue"),
                                    {0x01, 0x02, 'T', 'R', 'A', 'C', 'K', '\n', 0xFF});
    testing_support::writeFileBytes(dir.file("empty.cue"), {});
    for (const char* name :
         {"nobin.cue", "garbage.cue", "empty.cue", "absent.cue", "x.nrg", "y.toc"}) {
        SCOPED_TRACE(name);
        clearDiscImages();
        registerDiscImage(dir.file(name));
        EXPECT_EQ(firstDrive(), nullptr);
    }
}

TEST_F(CdLibrary, ShortImageEndsWhereItsDataEnds) {
    DiscImage image;
    image.audio(100, 1).audio(100, 2);
    install(image);
    ASSERT_EQ(::truncate(dir.file("disc.bin").c_str(), 150 * kCdFrameBytes + 100), 0);
    Handle h = firstDrive();
    ASSERT_TRUE(h);
    CdToc toc{};
    ASSERT_EQ(ReadTOC(h.get(), &toc), kCdOk);
    EXPECT_EQ(cdTocAddress(toc.tracks[2]), 150u);
    uint32_t result = 0;
    readFrames(h.get(), 143, 7, &result);
    EXPECT_EQ(result, kCdOk);
    readFrames(h.get(), 147, 7, &result);
    EXPECT_EQ(result, kCdError);
}

// A closed handle is kept for the next one on the same drive; once the
// image's files change, the next handle must show the image as it is now.
TEST_F(CdLibrary, HandleAfterTheImageChangedShowsTheNewImage) {
    DiscImage before;
    before.audio(20, 1);
    install(before);
    {
        Handle h = firstDrive();
        ASSERT_TRUE(h);
        CdToc toc{};
        ASSERT_EQ(ReadTOC(h.get(), &toc), kCdOk);
        EXPECT_EQ(toc.lastTrack, 1);
    }
    // Rewritten in place under the same names: a longer disc of two tracks.
    DiscImage after;
    after.audio(10, 2).audio(15, 3);
    after.write(dir.path().string(), "disc");
    Handle h = firstDrive();
    ASSERT_TRUE(h);
    CdToc toc{};
    ASSERT_EQ(ReadTOC(h.get(), &toc), kCdOk);
    EXPECT_EQ(toc.lastTrack, 2);
    EXPECT_EQ(cdTocAddress(toc.tracks[2]), 25u);
    uint32_t result = 0;
    std::vector<uint8_t> got = readFrames(h.get(), 18, 7, &result);
    ASSERT_EQ(result, kCdOk);
    std::vector<uint8_t> second = after.trackBytes(1);
    EXPECT_EQ(got, std::vector<uint8_t>(second.begin() + 8 * kCdFrameBytes, second.end()));
}

TEST_F(CdLibrary, HandleAfterATrackFileWasReplacedReadsTheNewFile) {
    // Two files: read through the sheet's own layout, each file held open.
    const std::vector<uint8_t> one(10 * kCdFrameBytes, 0x11);
    testing_support::writeFileBytes(dir.file("one.bin"), one);
    testing_support::writeFileBytes(dir.file("two.bin"),
                                    std::vector<uint8_t>(5 * kCdFrameBytes, 0x22));
    const std::string sheet = dir.file("disc.cue");
    const std::string text = "FILE \"one.bin\" BINARY\n TRACK 01 AUDIO\n INDEX 01 00:00:00\n"
                             "FILE \"two.bin\" BINARY\n TRACK 02 AUDIO\n INDEX 01 00:00:00\n";
    testing_support::writeFileBytes(sheet, std::vector<uint8_t>(text.begin(), text.end()));
    registerDiscImage(sheet);
    uint32_t result = 0;
    {
        Handle h = firstDrive();
        ASSERT_TRUE(h);
        std::vector<uint8_t> got = readFrames(h.get(), 10, 5, &result);
        ASSERT_EQ(result, kCdOk);
        EXPECT_EQ(got, std::vector<uint8_t>(5 * kCdFrameBytes, 0x22));
    }
    // Replaced by another file of the same size: a handle still holding the
    // old file would read the old bytes.
    const std::vector<uint8_t> replacement(5 * kCdFrameBytes, 0x33);
    testing_support::writeFileBytes(dir.file("new.bin"), replacement);
    ASSERT_EQ(::rename(dir.file("new.bin").c_str(), dir.file("two.bin").c_str()), 0);
    Handle h = firstDrive();
    ASSERT_TRUE(h);
    EXPECT_EQ(readFrames(h.get(), 10, 5, &result), replacement);
    EXPECT_EQ(result, kCdOk);
    EXPECT_EQ(readFrames(h.get(), 0, 10, &result), one);
}

TEST(CdDevices, EjectWithoutADeviceReportsFailure) {
    char path[] = "/dev/cdrom";
    if (::access(path, F_OK) == 0 || ::access("/dev/sr0", F_OK) == 0) {
        GTEST_SKIP() << "this machine has a CD device; not ejecting it";
    }
    EXPECT_FALSE(ejectFirstCdDevice());
}

} // namespace
