#include "platform/WaveOut.h"

#include "base/WaveFormat.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace testing_support;
using namespace std::chrono_literals;

namespace {

const bool diskDriverChosen = [] {
    static TempDir output;
    setenv("SDL_DISKAUDIOFILE", output.file("sdlaudio.raw").c_str(), 1);
    return chooseSdlDiskDriver();
}();

struct Message {
    unsigned message;
    WaveHeader* header;
    std::thread::id thread;
};

// Records the callback's messages; can call back into the layer from the
// notifier thread.
struct Recorder {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<Message> seen;
    std::atomic<int> resetFromCallback{-1};
    WaveOutHandle handle = nullptr; // for the calls made from the callback

    static void callback(WaveOutHandle device, unsigned message, void* instance, uintptr_t param1,
                         uintptr_t) {
        auto* self = static_cast<Recorder*>(instance);
        if (message == kMmWomDone && self->resetFromCallback == -1) {
            self->resetFromCallback = waveOutReset(device);
        }
        std::lock_guard lock(self->mutex);
        self->seen.push_back(
            {message, reinterpret_cast<WaveHeader*>(param1), std::this_thread::get_id()});
        self->changed.notify_all();
    }
    size_t countOf(unsigned message) {
        std::lock_guard lock(mutex);
        size_t n = 0;
        for (const Message& m : seen) {
            n += m.message == message;
        }
        return n;
    }
    bool waitForDone(size_t n) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, 10s, [&] {
            size_t done = 0;
            for (const Message& m : seen) {
                done += m.message == kMmWomDone;
            }
            return done >= n;
        });
    }
};

// One spare byte, so that the empty buffer has data to prepare.
struct Buffer : HeaderBuffer {
    explicit Buffer(size_t bytes) : HeaderBuffer(bytes, 0x11, 1) {}
};

class WaveOutTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(diskDriverChosen);
        ASSERT_EQ(waveOutOpen(&handle, &format, &Recorder::callback, &recorder), kWaveOk);
        if (std::string(waveOutDriverName()) != "disk") {
            GTEST_SKIP() << "SDL audio was initialised with another driver";
        }
        recorder.handle = handle;
    }
    void TearDown() override {
        if (handle) {
            waveOutReset(handle);
            EXPECT_EQ(waveOutClose(handle), kWaveOk);
        }
    }
    void write(Buffer& b) {
        ASSERT_EQ(waveOutPrepareHeader(handle, &b.header, 32), kWaveOk);
        ASSERT_EQ(waveOutWrite(handle, &b.header, 32), kWaveOk);
    }

    WaveFormat format = pcmFormat(1, 22050, 16);
    Recorder recorder;
    WaveOutHandle handle = nullptr;
};

TEST_F(WaveOutTest, MessagesArriveInOrderOnOneNotifierThread) {
    Buffer a(4410), b(1), c(0), d(8820);
    for (Buffer* x : {&a, &b, &c, &d}) {
        write(*x);
    }
    ASSERT_TRUE(recorder.waitForDone(4));
    ASSERT_EQ(waveOutClose(handle), kWaveOk);
    handle = nullptr;

    std::lock_guard lock(recorder.mutex);
    ASSERT_EQ(recorder.seen.size(), 6u);
    EXPECT_EQ(recorder.seen.front().message, kMmWomOpen);
    EXPECT_EQ(recorder.seen.back().message, kMmWomClose);
    std::vector<WaveHeader*> order;
    for (const Message& m : recorder.seen) {
        EXPECT_EQ(m.thread, recorder.seen.front().thread);
        if (m.message == kMmWomDone) {
            order.push_back(m.header);
        }
    }
    EXPECT_NE(recorder.seen.front().thread, std::this_thread::get_id());
    EXPECT_EQ(order, (std::vector<WaveHeader*>{&a.header, &b.header, &c.header, &d.header}));
    for (Buffer* x : {&a, &b, &c, &d}) {
        EXPECT_TRUE(x->header.flags & kWaveHeaderDone);
        EXPECT_FALSE(x->header.flags & kWaveHeaderInQueue);
    }
    // Reset and close are refused from inside the callback (they would wait
    // for the thread they run on).
    EXPECT_EQ(recorder.resetFromCallback, kWaveError);
}

TEST_F(WaveOutTest, ResetHandsBackEveryHeaderBeforeItReturns) {
    ASSERT_EQ(waveOutPause(handle), kWaveOk);
    Buffer a(44100), b(44100), c(44100);
    for (Buffer* x : {&a, &b, &c}) {
        write(*x);
    }
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(recorder.countOf(kMmWomDone), 0u); // paused: nothing plays
    EXPECT_EQ(waveOutClose(handle), kWaveStillPlaying);
    EXPECT_EQ(waveOutUnprepareHeader(handle, &a.header, 32), kWaveStillPlaying);

    ASSERT_EQ(waveOutReset(handle), kWaveOk);
    EXPECT_EQ(recorder.countOf(kMmWomDone), 3u);
    for (Buffer* x : {&a, &b, &c}) {
        EXPECT_EQ(waveOutUnprepareHeader(handle, &x->header, 32), kWaveOk);
    }
    EXPECT_EQ(waveOutClose(handle), kWaveOk);
    handle = nullptr;
}

TEST_F(WaveOutTest, QueuedBytesCountWhatIsStillToPlay) {
    // Paused, everything written is still to play; playing, the front buffer
    // counts only what has not been fed to the device yet.
    ASSERT_EQ(waveOutPause(handle), kWaveOk);
    Buffer a(22050), b(22050);
    uint64_t queued = 1;
    EXPECT_EQ(waveOutGetQueuedBytes(handle, &queued), kWaveOk);
    EXPECT_EQ(queued, 0u);
    write(a);
    write(b);
    ASSERT_EQ(waveOutGetQueuedBytes(handle, &queued), kWaveOk);
    EXPECT_EQ(queued, 44100u);

    ASSERT_EQ(waveOutRestart(handle), kWaveOk);
    bool partly = false;
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!partly && std::chrono::steady_clock::now() < deadline) {
        ASSERT_EQ(waveOutGetQueuedBytes(handle, &queued), kWaveOk);
        partly = queued > 22050 && queued < 44100;
        std::this_thread::sleep_for(1ms);
    }
    EXPECT_TRUE(partly) << "last seen " << queued;
    ASSERT_TRUE(recorder.waitForDone(2));
    ASSERT_EQ(waveOutGetQueuedBytes(handle, &queued), kWaveOk);
    EXPECT_EQ(queued, 0u);
    EXPECT_EQ(waveOutGetQueuedBytes(nullptr, &queued), kWaveInvalidHandle);
    EXPECT_EQ(waveOutGetQueuedBytes(handle, nullptr), kWaveInvalidParam);
}

TEST(WaveOutFormats, OnlyPlayablePcmOpens) {
    ASSERT_TRUE(diskDriverChosen);
    auto opens = [](const WaveFormat& f) {
        WaveOutHandle h = nullptr;
        int result = waveOutOpen(&h, &f, nullptr, nullptr);
        if (result == kWaveOk) {
            EXPECT_NE(h, nullptr);
            EXPECT_EQ(waveOutClose(h), kWaveOk);
        } else {
            EXPECT_EQ(h, nullptr);
        }
        return result;
    };
    EXPECT_EQ(opens(pcmFormat(1, 8000, 8)), kWaveOk);
    EXPECT_EQ(opens(pcmFormat(2, 44100, 16)), kWaveOk);
    EXPECT_EQ(opens(pcmFormat(2, 96000, 32)), kWaveOk);
    EXPECT_EQ(opens(pcmFormat(1, 11025, 24)), kWaveBadFormat);
    WaveFormat adpcm = pcmFormat(1, 22050, 4);
    adpcm.wFormatTag = 2;
    EXPECT_EQ(opens(adpcm), kWaveBadFormat);
    WaveFormat wrongBlock = pcmFormat(2, 44100, 16);
    wrongBlock.nBlockAlign = 2;
    EXPECT_EQ(opens(wrongBlock), kWaveBadFormat);
    EXPECT_EQ(opens(pcmFormat(0, 44100, 16)), kWaveBadFormat);
    EXPECT_EQ(opens(pcmFormat(1, 0, 16)), kWaveBadFormat);
    WaveFormat f = pcmFormat(1, 8000, 8);
    EXPECT_EQ(waveOutOpen(nullptr, &f, nullptr, nullptr), kWaveInvalidParam);
}

// In a fresh process: SDL picks its driver when audio is first initialised.
TEST(WaveOutDeathTest, MissingDriverIsAFailedOpen) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
            WaveFormat f = pcmFormat(1, 8000, 8);
            WaveOutHandle h = reinterpret_cast<WaveOutHandle>(1);
            int result = waveOutOpen(&h, &f, nullptr, nullptr);
            _exit(result == kWaveBadDevice && h == nullptr ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "cannot initialise audio");
}

} // namespace
