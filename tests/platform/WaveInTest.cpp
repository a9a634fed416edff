#include "platform/WaveIn.h"

#include "base/WaveFormat.h"
#include "platform/WaveOut.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

using namespace testing_support;
using namespace std::chrono_literals;

namespace {

// SDL's disk driver captures from SDL_DISKAUDIOFILEIN (zeros past its end),
// read at each open.
const bool diskDriverChosen = chooseSdlDiskDriver();

struct Capture {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<unsigned> messages;
    std::vector<WaveHeader*> returned;
    std::vector<uint32_t> recordedAtReturn;

    static void callback(WaveInHandle, unsigned message, void* instance, uintptr_t param1,
                         uintptr_t) {
        auto* self = static_cast<Capture*>(instance);
        std::lock_guard lock(self->mutex);
        self->messages.push_back(message);
        if (message == kWimData) {
            auto* header = reinterpret_cast<WaveHeader*>(param1);
            self->returned.push_back(header);
            self->recordedAtReturn.push_back(header->bytesRecorded);
        }
        self->changed.notify_all();
    }
    bool waitForData(size_t n) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, 10s, [&] { return returned.size() >= n; });
    }
};

struct Buffer : HeaderBuffer {
    explicit Buffer(size_t bytes) : HeaderBuffer(bytes, 0xEE) {}
};

class WaveInTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(diskDriverChosen);
        input = toBytes(sineSamples(8000, 1, 8000, 300.0, 0.6));
        std::string path = dir.file("in.raw");
        writeFileBytes(path, input);
        setenv("SDL_DISKAUDIOFILEIN", path.c_str(), 1);
        ASSERT_EQ(waveInOpen(&handle, kWaveMapper, &format, &Capture::callback, &capture), kWaveOk);
        if (std::string(waveOutDriverName()) != "disk") {
            GTEST_SKIP() << "SDL audio was initialised with another driver";
        }
    }
    void TearDown() override {
        if (handle) {
            EXPECT_EQ(waveInReset(handle), kWaveOk);
            EXPECT_EQ(waveInClose(handle), kWaveOk);
        }
    }
    void add(Buffer& b) {
        ASSERT_EQ(waveInPrepareHeader(handle, &b.header, 32), kWaveOk);
        ASSERT_EQ(waveInAddBuffer(handle, &b.header, 32), kWaveOk);
    }

    TempDir dir;
    std::vector<uint8_t> input;
    WaveFormat format = pcmFormat(1, 8000, 16);
    Capture capture;
    WaveInHandle handle = nullptr;
};

TEST_F(WaveInTest, FullBuffersCarryTheCapturedBytesInOrder) {
    Buffer a(1600), b(1600), c(3200);
    for (Buffer* x : {&a, &b, &c}) {
        add(*x);
    }
    std::this_thread::sleep_for(30ms);
    EXPECT_TRUE(capture.returned.empty()); // nothing is captured before start
    ASSERT_EQ(waveInStart(handle), kWaveOk);
    ASSERT_TRUE(capture.waitForData(3));

    std::vector<uint8_t> got;
    for (Buffer* x : {&a, &b, &c}) {
        EXPECT_EQ(x->header.bytesRecorded, x->header.bufferLength);
        EXPECT_TRUE(x->header.flags & kWaveHeaderDone);
        got.insert(got.end(), x->data.begin(), x->data.end());
    }
    EXPECT_EQ(got, std::vector<uint8_t>(input.begin(), input.begin() + 6400));
    std::lock_guard lock(capture.mutex);
    EXPECT_EQ(capture.returned, (std::vector<WaveHeader*>{&a.header, &b.header, &c.header}));
    EXPECT_EQ(capture.messages.front(), kWimOpen);
}

TEST_F(WaveInTest, ResetReturnsThePartlyFilledBufferWithItsCount) {
    Buffer big(8000 * 2 * 30), waiting(1000);
    add(big);
    add(waiting);
    EXPECT_EQ(waveInClose(handle), kWaveStillPlaying);
    ASSERT_EQ(waveInStart(handle), kWaveOk);
    std::this_thread::sleep_for(150ms);
    ASSERT_EQ(waveInReset(handle), kWaveOk);
    {
        std::lock_guard lock(capture.mutex);
        ASSERT_EQ(capture.returned.size(), 2u); // both, before reset returned
        EXPECT_EQ(capture.returned[0], &big.header);
        EXPECT_EQ(capture.returned[1], &waiting.header);
        EXPECT_GT(capture.recordedAtReturn[0], 0u);
        EXPECT_LT(capture.recordedAtReturn[0], big.header.bufferLength);
        EXPECT_EQ(capture.recordedAtReturn[1], 0u);
    }
    size_t n = std::min<size_t>(big.header.bytesRecorded, input.size());
    EXPECT_TRUE(std::equal(input.begin(), input.begin() + n, big.data.begin()));
    EXPECT_EQ(waveInUnprepareHeader(handle, &big.header, 32), kWaveOk);
    ASSERT_EQ(waveInClose(handle), kWaveOk);
    handle = nullptr;
    std::lock_guard lock(capture.mutex);
    EXPECT_EQ(capture.messages.back(), kWimClose);
}

TEST_F(WaveInTest, DevicesAreListedAndUnknownOnesRefused) {
    EXPECT_GE(waveInGetNumDevs(), 1u);
    WaveInCaps caps;
    EXPECT_EQ(waveInGetDevCaps(0, &caps, sizeof caps), kWaveOk);
    EXPECT_NE(caps.name[0], '\0');
    EXPECT_EQ(waveInGetDevCaps(99, &caps, sizeof caps), kWaveBadDevice);
    WaveInHandle other = nullptr;
    EXPECT_EQ(waveInOpen(&other, 99, &format, nullptr, nullptr), kWaveBadDevice);
    WaveFormat f24 = pcmFormat(1, 8000, 24);
    EXPECT_EQ(waveInOpen(&other, kWaveMapper, &f24, nullptr, nullptr), kWaveBadFormat);
    EXPECT_EQ(other, nullptr);
}

} // namespace
