#include "support/CdTestSupport.h"

#include <atomic>
#include <cstdlib>
#include <thread>
#include <unistd.h>

namespace {

using testing_support::DiscImage;
using testing_support::kCdFrameBytes;
using testing_support::MessageRecorder;

using CdDriveImage = CdImageTest;

TEST_F(CdDriveImage, RipsEveryAudioTrackBitExact) {
    DiscImage image;
    image.audio(100, 1).audio(37, 2).tone(75, 1000);
    install(image);
    CdDrive drive;
    ASSERT_TRUE(drive.ReadDisc());
    ASSERT_EQ(drive.TrackCount(), 3);
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        ASSERT_TRUE(drive.OpenTrack(i));
        EXPECT_EQ(drive.requestSize, 17640u);
        std::vector<uint32_t> sizes;
        std::vector<uint8_t> got = readTrack(drive, &sizes);
        EXPECT_EQ(got, image.trackBytes(static_cast<size_t>(i)));
        for (size_t k = 0; k + 1 < sizes.size(); ++k) {
            EXPECT_EQ(sizes[k], 7 * kCdFrameBytes);
        }
        EXPECT_EQ(drive.TrackBytes(i),
                  static_cast<int32_t>(image.trackFrames(static_cast<size_t>(i)) * kCdFrameBytes));
    }
    const WaveFormat* f = drive.GetFormat();
    EXPECT_EQ(f->wFormatTag, 1);
    EXPECT_EQ(f->nChannels, 2);
    EXPECT_EQ(f->nSamplesPerSec, 44100u);
    EXPECT_EQ(f->nAvgBytesPerSec, 176400u);
    EXPECT_EQ(f->nBlockAlign, 4);
    EXPECT_EQ(f->wBitsPerSample, 16);
    EXPECT_EQ(f->cbSize, 0);
}

TEST_F(CdDriveImage, JitterCorrectedRipIsBitExactToo) {
    DiscImage image;
    image.tone(60, 440).audio(44, 9);
    install(image);
    setCdReadMethod(CdReadMethod::JitterCorrected);
    CdDrive drive;
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(drive.OpenTrack(i));
        EXPECT_EQ(readTrack(drive), image.trackBytes(static_cast<size_t>(i)));
    }
}

TEST_F(CdDriveImage, DataTracksAreLeftOutAndNumbersCloseUp) {
    {
        DiscImage image; // a data track first
        image.data(50).audio(30, 1).audio(20, 2);
        install(image, "datafirst");
        CdDrive drive;
        ASSERT_TRUE(drive.ReadDisc());
        std::vector<CdDrive::TrackRecord> tracks = drive.Tracks();
        ASSERT_EQ(tracks.size(), 2u);
        EXPECT_EQ(tracks[0].number, 1);
        EXPECT_EQ(tracks[0].startFrame, 50u);
        EXPECT_EQ(tracks[1].number, 2);
        EXPECT_EQ(tracks[1].startFrame, 80u);
        for (int i = 0; i < 2; ++i) {
            ASSERT_TRUE(drive.OpenTrack(i));
            EXPECT_EQ(readTrack(drive), image.trackBytes(static_cast<size_t>(i) + 1));
        }
    }
    clearDiscImages();
    {
        DiscImage image; // an enhanced disc: the last track is data
        image.audio(30, 3).audio(25, 4).data(40);
        install(image, "enhanced");
        CdDrive drive;
        ASSERT_TRUE(drive.ReadDisc());
        ASSERT_EQ(drive.TrackCount(), 2);
        std::vector<CdDrive::TrackRecord> tracks = drive.Tracks();
        EXPECT_EQ(tracks[0].frameCount, 30u);
        EXPECT_EQ(tracks[1].frameCount, 25u);
        ASSERT_TRUE(drive.OpenTrack(1));
        EXPECT_EQ(readTrack(drive), image.trackBytes(1));
    }
    clearDiscImages();
    {
        DiscImage image; // data only
        image.data(40);
        install(image, "dataonly");
        CdDrive drive;
        EXPECT_FALSE(drive.ReadDisc());
        EXPECT_FALSE(drive.discReady);
        EXPECT_EQ(drive.TrackCount(), 0);
        EXPECT_FALSE(drive.OpenTrack(0));
    }
}

TEST_F(CdDriveImage, TwelveTracksAreNumberedOneToTwelve) {
    DiscImage image;
    for (uint32_t i = 0; i < 12; ++i) {
        image.audio(10 + i, i);
    }
    install(image);
    CdDrive drive;
    ASSERT_TRUE(drive.ReadDisc());
    std::vector<CdDrive::TrackRecord> tracks = drive.Tracks();
    ASSERT_EQ(tracks.size(), 12u);
    for (uint32_t i = 0; i < 12; ++i) {
        EXPECT_EQ(tracks[i].number, static_cast<int32_t>(i + 1));
        EXPECT_EQ(tracks[i].frameCount, 10 + i);
        EXPECT_EQ(tracks[i].startFrame, image.trackStart(i));
    }
    EXPECT_EQ(drive.TrackSeconds(-1), 0);
    EXPECT_EQ(drive.TrackSeconds(12), 0);
    EXPECT_EQ(drive.TrackBytes(12), 0);
}

TEST_F(CdDriveImage, LongTrackSizesAndDuration) {
    DiscImage image;
    image.audio(10, 1).silentAudio(150000);
    install(image);
    CdDrive drive;
    ASSERT_TRUE(drive.OpenTrack(1));
    EXPECT_EQ(drive.TrackSeconds(1), 2000);
    EXPECT_EQ(drive.TrackBytes(1), 352800000);
    EXPECT_DOUBLE_EQ(drive.GetDuration(), 2000.0);
    drive.Seek(1999);
    std::vector<uint8_t> tail = readTrack(drive);
    EXPECT_EQ(tail, std::vector<uint8_t>(75 * kCdFrameBytes, 0));
    EXPECT_DOUBLE_EQ(drive.GetPosition(), 2000.0);
}

TEST_F(CdDriveImage, TenFrameTrackComesAsSevenAndThreeFramesThenEnds) {
    DiscImage image;
    image.audio(10, 1).audio(20, 2);
    install(image);
    CdDrive drive;
    ASSERT_TRUE(drive.OpenTrack(0));
    AudioBuffer first = drive.GetBuffer();
    AudioBuffer second = drive.GetBuffer();
    EXPECT_EQ(first.length(), 7 * kCdFrameBytes);
    EXPECT_EQ(first.kind(), BufferKind::WaveOut);
    EXPECT_EQ(second.length(), 7056u);
    EXPECT_TRUE(drive.GetBuffer().isEmpty());
    EXPECT_TRUE(drive.GetBuffer().isEmpty());
    EXPECT_TRUE(drive.discReady);
    drive.Rewind();
    EXPECT_EQ(drive.GetBuffer().length(), 7 * kCdFrameBytes);
}

TEST_F(CdDriveImage, SeekingMovesByWholeSecondsWithinTheTrack) {
    DiscImage image;
    image.audio(1000, 1).audio(900, 2);
    install(image);
    CdDrive drive;
    for (int track = 0; track < 2; ++track) {
        SCOPED_TRACE(track);
        ASSERT_TRUE(drive.OpenTrack(track));
        const uint32_t start = image.trackStart(static_cast<size_t>(track));
        const uint32_t count = image.trackFrames(static_cast<size_t>(track));
        drive.Seek(10);
        EXPECT_EQ(drive.NextFrame(), start + 750);
        EXPECT_EQ(drive.FramesLeft(), count - 750);
        EXPECT_DOUBLE_EQ(drive.GetPosition(), 10.0);
        // The next read really starts there.
        std::vector<uint8_t> bytes = image.trackBytes(static_cast<size_t>(track));
        AudioBuffer b = drive.GetBuffer();
        ASSERT_EQ(b.length(), 7 * kCdFrameBytes);
        EXPECT_TRUE(
            std::equal(b.data(), b.data() + b.length(), bytes.begin() + 750 * kCdFrameBytes));

        drive.SkipBack(3); // 757 - 225
        EXPECT_EQ(drive.NextFrame(), start + 532);
        drive.SkipBack(100); // beyond the start: stops there, also at frame 0
        EXPECT_EQ(drive.NextFrame(), start);
        EXPECT_EQ(drive.FramesLeft(), count);
        drive.SkipForward(1000); // beyond the end
        EXPECT_EQ(drive.FramesLeft(), 0u);
        EXPECT_EQ(drive.NextFrame(), start + count);
        EXPECT_TRUE(drive.GetBuffer().isEmpty());
        drive.Seek(100); // beyond the end: the end
        EXPECT_EQ(drive.FramesLeft(), 0u);
        drive.Seek(0x80000000u); // top bit set: nothing moves
        EXPECT_EQ(drive.FramesLeft(), 0u);
        drive.Seek(0xFFFFFFFFu);
        EXPECT_EQ(drive.FramesLeft(), 0u);
        drive.Seek(1);
        EXPECT_EQ(drive.NextFrame(), start + 75);
        drive.SkipForward(0x7FFFFFFFu); // huge counts clamp, never wrap
        EXPECT_EQ(drive.FramesLeft(), 0u);
        drive.SkipBack(0xFFFFFFFFu);
        EXPECT_EQ(drive.NextFrame(), start);
    }
}

TEST_F(CdDriveImage, PositionAfterSeventyFiveFramesIsOneSecond) {
    DiscImage image;
    image.audio(75, 1).audio(10, 2);
    install(image);
    CdDrive drive;
    EXPECT_DOUBLE_EQ(drive.GetPosition(), 0.0);
    ASSERT_TRUE(drive.OpenTrack(0));
    EXPECT_EQ(readTrack(drive).size(), 75 * kCdFrameBytes);
    EXPECT_DOUBLE_EQ(drive.GetPosition(), 1.0);
    EXPECT_DOUBLE_EQ(drive.GetDuration(), 1.0);
}

TEST_F(CdDriveImage, OpenTrackOnAFreshObjectReadsTheDiscFirst) {
    DiscImage image;
    image.audio(20, 1).audio(30, 2).audio(40, 3);
    install(image);
    CdDrive drive;
    EXPECT_FALSE(drive.discReady);
    EXPECT_EQ(drive.TrackCount(), 0);
    EXPECT_TRUE(drive.GetBuffer().isEmpty()); // nothing opened yet
    ASSERT_TRUE(drive.OpenTrack(0));
    EXPECT_TRUE(drive.discReady);
    EXPECT_EQ(drive.TrackCount(), 3);
    EXPECT_EQ(drive.FramesLeft(), 20u);
    // Index 0 or less is the first track; past the end is refused and leaves
    // the current track alone.
    ASSERT_TRUE(drive.OpenTrack(2));
    EXPECT_TRUE(drive.OpenTrack(-5));
    EXPECT_EQ(drive.NextFrame(), 0u);
    EXPECT_FALSE(drive.OpenTrack(3));
    EXPECT_FALSE(drive.OpenTrack(1000));
    EXPECT_EQ(drive.FramesLeft(), 20u);
    EXPECT_EQ(readTrack(drive), image.trackBytes(0));
}

TEST_F(CdDriveImage, NoDriveOrNoReadableDiscGivesNoTracks) {
    CdDriveList list{};
    if (GetCDList(&list) == 0) {
        CdDrive drive;
        EXPECT_EQ(drive.FindDrives(), 0);
        EXPECT_FALSE(drive.ReadDisc());
        EXPECT_FALSE(drive.OpenTrack(0));
        EXPECT_TRUE(drive.GetBuffer().isEmpty());
        EXPECT_DOUBLE_EQ(drive.GetDuration(), 0.0);
    }
    DiscImage image;
    image.audio(10, 1);
    image.write(dir.path().string(), "nobin");
    ::unlink(dir.file("nobin.bin").c_str());
    testing_support::writeFileBytes(dir.file("garbage.cue"), {'F', 'I', 'L', 'E', ' ', 0x7F, '\n'});
    for (const char* name : {"nobin.cue", "garbage.cue", "missing.cue"}) {
        SCOPED_TRACE(name);
        clearDiscImages();
        registerDiscImage(dir.file(name));
        CdDrive drive;
        EXPECT_GE(drive.FindDrives(), 1);
        EXPECT_FALSE(drive.ReadToc());
        EXPECT_FALSE(drive.ReadDisc());
        EXPECT_FALSE(drive.discReady);
        EXPECT_FALSE(drive.OpenTrack(0));
        EXPECT_EQ(drive.TrackCount(), 0);
        EXPECT_TRUE(drive.GetBuffer().isEmpty());
    }
}

TEST_F(CdDriveImage, ShortImageDeliversTheAudioItHas) {
    DiscImage image;
    image.audio(100, 1).audio(100, 2);
    install(image);
    ASSERT_EQ(::truncate(dir.file("disc.bin").c_str(), 130 * kCdFrameBytes + 17), 0);
    CdDrive drive;
    ASSERT_TRUE(drive.OpenTrack(1));
    EXPECT_EQ(drive.TrackSeconds(1), 0);
    std::vector<uint8_t> bytes = image.trackBytes(1);
    bytes.resize(30 * kCdFrameBytes);
    EXPECT_EQ(readTrack(drive), bytes);
    EXPECT_TRUE(drive.discReady);
}

TEST_F(CdDriveImage, FailedReadEndsTheTrackAndTheNextOpenReadsAgain) {
    DiscImage image;
    image.audio(100, 1).audio(100, 2);
    install(image);
    CdDrive drive;
    ASSERT_TRUE(drive.OpenTrack(1));
    EXPECT_FALSE(drive.GetBuffer().isEmpty());
    // The disc shrinks under the reader: the range is gone and all three
    // attempts fail.
    ASSERT_EQ(::truncate(dir.file("disc.bin").c_str(), 114 * kCdFrameBytes), 0);
    EXPECT_FALSE(drive.GetBuffer().isEmpty()); // frames 107..113 are still there
    EXPECT_TRUE(drive.GetBuffer().isEmpty());
    EXPECT_FALSE(drive.discReady);
    EXPECT_DOUBLE_EQ(drive.GetPosition(), 0.0);
    EXPECT_DOUBLE_EQ(drive.GetDuration(), 0.0);
    EXPECT_EQ(drive.TrackCount(), 0);

    // A whole image again: OpenTrack reads the disc afresh.
    install(image);
    clearDiscImages();
    install(image);
    ASSERT_TRUE(drive.OpenTrack(1));
    EXPECT_TRUE(drive.discReady);
    EXPECT_EQ(readTrack(drive), image.trackBytes(1));
}

TEST_F(CdDriveImage, MissingTrackBufferIsReportedAndNothingIsRead) {
    DiscImage image;
    image.audio(20, 1);
    install(image);
    MessageRecorder messages;
    CdDrive drive([](uint32_t) { return static_cast<CdTrackBuffer*>(nullptr); });
    ASSERT_EQ(messages.texts().size(), 1u);
    EXPECT_EQ(messages.texts()[0], "NewTrackBuf error");
    ASSERT_TRUE(drive.OpenTrack(0));
    EXPECT_TRUE(drive.GetBuffer().isEmpty());
    EXPECT_TRUE(drive.discReady);
    EXPECT_EQ(drive.FramesLeft(), 20u);
}

TEST_F(CdDriveImage, PlayerMovesTracksWhilePlaybackReads) {
    DiscImage image;
    image.audio(300, 1).audio(200, 2).audio(250, 3);
    install(image);
    std::vector<uint8_t> bin = testing_support::readFileBytes(dir.file("disc.bin"));
    CdDrive drive;
    ASSERT_TRUE(drive.OpenTrack(0));
    std::atomic<bool> done{false};
    std::atomic<int> bad{0};
    std::thread reader([&] {
        while (!done) {
            AudioBuffer b = drive.GetBuffer();
            if (b.isEmpty()) {
                std::this_thread::yield();
                continue;
            }
            // Every buffer is a run of whole frames found on the disc.
            if (b.length() % kCdFrameBytes != 0 ||
                std::search(bin.begin(), bin.end(), b.data(), b.data() + b.length()) == bin.end()) {
                ++bad;
            }
            (void)drive.GetPosition();
        }
    });
    for (int i = 0; i < 60; ++i) {
        drive.OpenTrack(i % 3);
        if (i % 7 == 0) {
            drive.Seek(1);
        }
        EXPECT_TRUE(drive.discReady);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    done = true;
    reader.join();
    EXPECT_EQ(bad.load(), 0);
}

TEST_F(CdDriveImage, AnotherReaderOfTheImageAgrees) {
    if (::access("/usr/bin/cd-paranoia", X_OK) != 0) {
        GTEST_SKIP() << "cd-paranoia is not installed";
    }
    DiscImage image;
    image.tone(200, 440).tone(120, 1000).data(30);
    std::string cue = install(image);
    std::string command =
        "cd '" + dir.path().string() + "' && cd-paranoia -d '" + cue + "' -B -r >/dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0);
    CdDrive drive;
    for (int i = 0; i < 2; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "track%02d.cdda.raw", i + 1);
        std::vector<uint8_t> reference = testing_support::readFileBytes(dir.file(name));
        ASSERT_TRUE(drive.OpenTrack(i));
        EXPECT_EQ(readTrack(drive), reference) << name;
    }
}

} // namespace
