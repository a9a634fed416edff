// The window's player hears each item in its own layout: mono as mono,
// stereo with its sides apart, more channels mixed down to stereo, each at
// the item's own rate. Checked sample for sample on SDL's disk driver.

#include "app/WindowFixture.h"

#include "controls/PlayListView.h"
#include "controls/TransparentSlider.h"
#include "engine/WaveOutDevice.h"
#include "mixer/Mixer.h"
#include "platform/WaveOut.h"
#include "support/SoundServer.h"

#include <algorithm>
#include <string>
#include <vector>

using namespace window_test;
using namespace testing_support;

namespace {

class ItemLayoutPlaybackTest : public WindowTest {
  protected:
    void SetUp() override {
        WindowTest::SetUp();
        useAudioDriver("disk", heardPath.c_str());
    }

    // Adds path as the last row and plays it with the volume at full scale,
    // so that what is heard is the item's samples unchanged.
    void playNewRow(const std::string& path) {
        MainWindow& w = window();
        w.volumeSlider->setValue(0xFFFF);
        chooseFiles({path});
        w.onCommand(kIdAddFiles);
        w.listView->clickedRow = rowCount() - 1;
        w.onCommand(kNewItem);
    }

    // Waits for the item's end, closes the device (which writes out what the
    // disk driver holds) and returns what was heard, without the silence.
    std::vector<uint8_t> heardToTheEnd(size_t frameBytes) {
        EXPECT_TRUE(waitFor([&] { return labelText(kIdStatus) == "Stopped"; }, 15000));
        window().emptyPlayer();
        return withoutSilentFrames(readFileBytes(heardPath), frameBytes);
    }

    const std::string heardPath = dir.file("heard.raw");
};

// The samples a Mixer playing path as the window does hands out.
std::vector<uint8_t> itemAsPlayed(const std::string& path) {
    Mixer mixer;
    mixer.followItemChannels = true;
    mixer.followItemRate = true;
    std::vector<uint8_t> out;
    if (!mixer.LoadWave(path.c_str())) {
        return out;
    }
    mixer.Rewind();
    for (AudioBuffer b = mixer.GetBuffer(); !b.isEmpty(); b = mixer.GetBuffer()) {
        out.insert(out.end(), b.data(), b.data() + b.length());
    }
    return out;
}

} // namespace

TEST_F(ItemLayoutPlaybackTest, EachItemIsHeardInItsOwnChannelsAtItsOwnRate) {
    struct Case {
        uint16_t channels;
        uint32_t rate;
        uint16_t heardChannels;
    };
    const Case cases[] = {{2, 44100, 2}, {1, 44100, 1}, {2, 48000, 2}, {6, 44100, 2}};
    MainWindow& w = window();
    for (const Case& c : cases) {
        const std::string name = std::to_string(c.channels) + "ch" + std::to_string(c.rate);
        SCOPED_TRACE(name);
        const std::string path =
            c.channels == 1 ? writeWave(dir.file(name + ".wav"), 1, c.rate, 1.0)
                            : writeFrontPairWave(dir.file(name + ".wav"), c.channels, c.rate, 1.0);
        playNewRow(path);
        ASSERT_EQ(labelText(kIdStatus), "Playing");
        const WaveFormat* played = w.output().isOpen() ? w.playbackMixer().GetFormat() : nullptr;
        ASSERT_NE(played, nullptr);
        EXPECT_EQ(played->nChannels, c.heardChannels);
        EXPECT_EQ(played->nSamplesPerSec, c.rate);
        EXPECT_EQ(labelText(kIdTime), "00:01");

        // 440 Hz on the left and 880 Hz on the right stay where they are,
        // every sample of them, and the item ends once, on its own row.
        const std::vector<uint8_t> expected =
            c.channels <= 2 ? toBytes(sineSamples(c.rate, c.channels, c.rate)) : itemAsPlayed(path);
        const std::vector<uint8_t> heard = heardToTheEnd(2u * c.heardChannels);
        EXPECT_EQ(heard.size(), withoutSilentFrames(expected, 2u * c.heardChannels).size());
        EXPECT_TRUE(heard == withoutSilentFrames(expected, 2u * c.heardChannels));
        EXPECT_EQ(w.currentIndex, rowCount() - 1);
    }
    EXPECT_TRUE(messages->texts().empty());
}

// A seek in a 48,000 Hz stereo item lands on the first frame of its second:
// what is heard after it is the item from there, sample for sample.
TEST_F(ItemLayoutPlaybackTest, SeekingInAStereoItemAtItsOwnRateLandsOnTheSecond) {
    // Noise rather than a tone, which would repeat itself at every second.
    const uint32_t rate = 48000;
    const std::vector<uint8_t> item = noiseBytes(4 * rate * 4, 22);
    const std::string path = dir.file("noise.wav");
    writeFileBytes(path, waveFile(pcmFormat(2, rate, 16), item));
    playNewRow(path);
    MainWindow& w = window();
    ASSERT_TRUE(waitFor([&] { return w.elapsedSeconds >= 0.4; }));
    ASSERT_TRUE(w.seekTo(2.0));
    EXPECT_NEAR(w.playbackMixer().GetPosition(), 2.5, 0.15); // and the five queued tenths

    const std::vector<uint8_t> heard = heardToTheEnd(4);
    const std::vector<uint8_t> fromTwo(item.begin() + 2 * rate * 4, item.end());
    ASSERT_GT(heard.size(), fromTwo.size());
    EXPECT_TRUE(std::equal(fromTwo.begin(), fromTwo.end(), heard.end() - fromTwo.size()));
    // Before the seek, the item from its start.
    const size_t before = heard.size() - fromTwo.size();
    EXPECT_TRUE(std::equal(heard.begin(), heard.begin() + before, item.begin()));
}

// A sound server takes rates up to 384,000 Hz: an item above that is heard
// resampled to 44,100 Hz, in its own channels, and the next item is at its
// own rate again.
TEST_F(ItemLayoutPlaybackTest, ARateTheOutputRefusesIsResampledAndTheNextItemKeepsItsOwn) {
    SoundServer server(ServerKind::PulseAudio);
    if (server.unavailableHere()) {
        GTEST_SKIP() << server.whyNot();
    }
    ASSERT_TRUE(server.ok()) << server.whyNot();
    waveAudioShutdown();
    server.use();
    MainWindow& w = window();
    struct Case {
        uint32_t rate;
        uint32_t heardRate;
        const char* stream;
    };
    for (const Case& c :
         {Case{400000, 44100, "s16le 2ch 44100Hz"}, Case{48000, 48000, "s16le 2ch 48000Hz"}}) {
        SCOPED_TRACE(c.rate);
        playNewRow(writeFrontPairWave(dir.file(std::to_string(c.rate) + ".wav"), 2, c.rate, 0.7));
        ASSERT_EQ(labelText(kIdStatus), "Playing");
        EXPECT_EQ(w.playbackMixer().GetFormat()->nSamplesPerSec, c.heardRate);
        std::vector<std::string> inputs;
        ASSERT_TRUE(waitFor([&] { return !(inputs = sinkInputLines(server)).empty(); }, 10000));
        EXPECT_NE(inputs.front().find(c.stream), std::string::npos) << inputs.front();
        EXPECT_TRUE(waitFor([&] { return labelText(kIdStatus) == "Stopped"; }, 10000));
    }
    EXPECT_TRUE(messages->texts().empty());
}
