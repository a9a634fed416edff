// velumo-convert run as a subprocess, its outputs read back by sox, ffprobe
// and ffmpeg.

#include "encode/ExternalTools.h"
#include "platform/LameEncoder.h"
#include "support/DiscImage.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>

using namespace testing_support;

namespace {

const std::string kTool = VELUMO_BINARY_DIR "/velumo-convert";

struct Outcome {
    int status = -1;
    std::string err;
};

// Runs the tool with stdin from /dev/null (never a terminal), after the
// shell commands in setUp, or under the command setUp names ("timeout 30 "
// kills it after 30 seconds, status 124).
Outcome convert(const std::string& arguments, const TempDir& dir, const std::string& setUp = {}) {
    Outcome o;
    std::string errFile = dir.file("stderr.txt");
    runCommand("bash -c " + shellQuoted(setUp + shellQuoted(kTool) + " " + arguments +
                                        " </dev/null 2>" + shellQuoted(errFile)),
               &o.status);
    auto bytes = readFileBytes(errFile);
    o.err.assign(bytes.begin(), bytes.end());
    return o;
}

std::string soxInfo(const std::string& path, const char* option) {
    std::string out =
        runCommand("soxi " + std::string(option) + " " + shellQuoted(path) + " 2>/dev/null");
    while (!out.empty() && out.back() == '\n') {
        out.pop_back();
    }
    return out;
}

std::vector<int16_t> waveSamples(const std::string& path) {
    auto file = readFileBytes(path);
    std::vector<int16_t> out(file.size() > 44 ? (file.size() - 44) / 2 : 0);
    std::memcpy(out.data(), file.data() + 44, out.size() * 2);
    return out;
}

// One run with the time it took and the peak resident memory of the tool's
// process. A run still going after limitSeconds is killed (status -1), so a
// tool that hangs fails the test instead of holding it.
struct MeasuredOutcome : Outcome {
    double seconds = 0.0;    // wall time
    double cpuSeconds = 0.0; // user and system time, steady on a loaded machine
    long peakKib = 0;
};

MeasuredOutcome convertMeasured(const std::vector<std::string>& arguments, const TempDir& dir,
                                double limitSeconds = 20.0) {
    MeasuredOutcome o;
    std::string errFile = dir.file("stderr.txt");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    std::vector<std::string> words = arguments;
    std::vector<char*> argv = {const_cast<char*>(kTool.c_str())};
    for (auto& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    pid_t pid = 0;
    auto start = std::chrono::steady_clock::now();
    int spawned = posix_spawn(&pid, kTool.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        return o;
    }
    int status = 0;
    rusage usage{};
    for (;;) {
        if (wait4(pid, &status, WNOHANG, &usage) == pid) {
            break;
        }
        if (std::chrono::steady_clock::now() - start >
            std::chrono::duration<double>(limitSeconds)) {
            kill(pid, SIGKILL);
            wait4(pid, &status, 0, &usage);
            status = -1;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    o.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    o.status = status >= 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    o.peakKib = usage.ru_maxrss;
    o.cpuSeconds = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                   double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    auto bytes = readFileBytes(errFile);
    o.err.assign(bytes.begin(), bytes.end());
    return o;
}

// The address sanitizer keeps freed memory in quarantine and the thread
// sanitizer shadows all of it: peak memory means nothing in those builds.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

bool canEncodeMp3() {
    return EncoderLibrary::load() != nullptr;
}

} // namespace

class ConvertTool : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!std::filesystem::exists(kTool)) {
            GTEST_SKIP() << "velumo-convert is not built";
        }
    }
    TempDir dir;
};

TEST_F(ConvertTool, HelpAndVersionExitCleanly) {
    Outcome help = convert("--help >" + shellQuoted(dir.file("help.txt")), dir);
    EXPECT_EQ(0, help.status);
    auto text = readFileBytes(dir.file("help.txt"));
    EXPECT_NE(std::string::npos, std::string(text.begin(), text.end()).find("--format wav|mp3"));
    EXPECT_EQ(0, convert("--version >" + shellQuoted(dir.file("version.txt")), dir).status);
    const auto version = readFileBytes(dir.file("version.txt"));
    EXPECT_EQ(std::string(version.begin(), version.end()),
              "velumo-convert " VELUMO_PROJECT_VERSION "\n");
}

TEST_F(ConvertTool, UsageErrorsExitWithTwo) {
    std::string in = writeWave(dir.file("in.wav"), 1, 22050, 0.2);
    EXPECT_EQ(2, convert("", dir).status);
    EXPECT_EQ(2, convert(shellQuoted(in), dir).status);
    EXPECT_EQ(2,
              convert("--rate abc " + shellQuoted(in) + " " + shellQuoted(dir.file("o.wav")), dir)
                  .status);
    EXPECT_EQ(
        2,
        convert("--bogus " + shellQuoted(in) + " " + shellQuoted(dir.file("o.wav")), dir).status);
    EXPECT_EQ(2,
              convert("--channels 6 " + shellQuoted(in) + " " + shellQuoted(dir.file("o.wav")), dir)
                  .status);
    EXPECT_EQ(2,
              convert("--format wav " + shellQuoted(in) + " " + shellQuoted(dir.file("nodir")), dir)
                  .status);
    // A bitrate text the window does not list is a mistake, not 22050 Hz.
    const Outcome bitrate =
        convert("--bitrate 128KB " + shellQuoted(in) + " " + shellQuoted(dir.file("o.wav")), dir);
    EXPECT_EQ(2, bitrate.status);
    EXPECT_NE(bitrate.err.find("32KB 48KB 64KB 80KB 96KB 112KB 144KB 160KB 192KB"),
              std::string::npos)
        << bitrate.err;
    EXPECT_FALSE(std::filesystem::exists(dir.file("o.wav")));
}

// An MP3 file holds only MPEG's rates: any other rate for an MP3 output is
// a usage error that lists them, and nothing is written. WAV takes any rate.
TEST_F(ConvertTool, Mp3OutputRefusesRatesAnMp3CannotHold) {
    const std::string in = writeWave(dir.file("in.wav"), 1, 22050, 0.2);
    const struct {
        const char* options;
        const char* output; // empty: directory mode
        int status;
        const char* writtenRate;
    } cases[] = {
        {"--bitrate 160KB", "a.mp3", 2, nullptr},      {"--rate 384000", "b.mp3", 2, nullptr},
        {"--rate 1000", "c.mp3", 2, nullptr},          {"--bitrate 48KB", "d.mp3", 2, nullptr},
        {"--format mp3 --rate 96000", "", 2, nullptr}, {"--rate 8000", "e.mp3", 0, "8000"},
        {"--rate 48000", "f.mp3", 0, "48000"},         {"--bitrate 160KB", "g.wav", 0, "110250"},
        {"--rate 384000", "h.wav", 0, "384000"},       {"--format wav --rate 1000", "", 0, "1000"},
    };
    const bool encoder = canEncodeMp3();
    for (const auto& c : cases) {
        const std::string output = *c.output ? std::string(c.output) : std::string();
        SCOPED_TRACE(std::string(c.options) + " " + output);
        const bool mp3 = output.empty() ? std::string(c.options).find("mp3") != std::string::npos
                                        : output.ends_with(".mp3");
        if (mp3 && c.status == 0 && !encoder) {
            continue; // an MP3 cannot be written here
        }
        const std::filesystem::path outDir = dir.path() / ("out" + std::string(c.output));
        std::filesystem::create_directories(outDir);
        const std::string target = output.empty() ? outDir.string() : (outDir / output).string();
        const Outcome o = convert(
            std::string(c.options) + " " + shellQuoted(in) + " " + shellQuoted(target), dir);
        EXPECT_EQ(c.status, o.status) << o.err;
        if (c.status == 2) {
            EXPECT_NE(o.err.find("8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100 or 48000"),
                      std::string::npos)
                << o.err;
            EXPECT_TRUE(std::filesystem::is_empty(outDir));
        } else if (haveTool("ffprobe")) {
            const std::string written =
                output.empty() ? (outDir / (mp3 ? "in.mp3" : "in.wav")).string() : target;
            EXPECT_EQ(c.writtenRate, probeFile(written)["sample_rate"]);
        }
    }
}

TEST_F(ConvertTool, UnsupportedOutputExtensionIsFormatNotSupport) {
    std::string in = writeWave(dir.file("in.wav"), 1, 22050, 0.2);
    Outcome o = convert(shellQuoted(in) + " " + shellQuoted(dir.file("out.ogg")), dir);
    EXPECT_EQ(2, o.status);
    EXPECT_NE(std::string::npos, o.err.find("format not support!")) << o.err;
    EXPECT_EQ(1, std::count(o.err.begin(), o.err.end(), '\n')) << o.err;
    EXPECT_FALSE(std::filesystem::exists(dir.file("out.ogg")));
    EXPECT_EQ(
        2, convert("--format ogg " + shellQuoted(in) + " " + shellQuoted(dir.path().string()), dir)
               .status);
}

TEST_F(ConvertTool, WaveOutputIsMono16BitAtTheDefaultRate) {
    std::string in = writeWave(dir.file("in.wav"), 2, 44100, 2.0);
    std::string out = dir.file("out.wav");
    Outcome o = convert(shellQuoted(in) + " " + shellQuoted(out), dir);
    ASSERT_EQ(0, o.status) << o.err;
    EXPECT_TRUE(o.err.empty()) << o.err; // no progress line off a terminal
    if (haveTool("soxi")) {
        EXPECT_EQ("22050", soxInfo(out, "-r"));
        EXPECT_EQ("1", soxInfo(out, "-c"));
        EXPECT_EQ("16", soxInfo(out, "-b"));
        EXPECT_NEAR(44100.0, std::stod(soxInfo(out, "-s")), 32.0);
    }
    if (haveTool("ffprobe")) {
        auto info = probeFile(out);
        EXPECT_EQ("pcm_s16le", info["codec_name"]);
        EXPECT_EQ("22050", info["sample_rate"]);
        EXPECT_EQ("1", info["channels"]);
    }
}

// --channels 2 writes stereo: the sides of a stereo item sample for sample
// (at its own rate nothing is resampled), a mono item on both sides; an MP3
// is encoded as stereo.
TEST_F(ConvertTool, ChannelsTwoWritesTheItemsSidesApart) {
    const std::vector<int16_t> stereo = sineSamples(44100, 2, 44100);
    const std::vector<int16_t> mono = sineSamples(44100, 1, 44100);
    std::vector<int16_t> monoOnBoth;
    for (int16_t sample : mono) {
        monoOnBoth.insert(monoOnBoth.end(), {sample, sample});
    }
    struct Case {
        uint16_t inputChannels;
        const char* output;
        std::vector<int16_t> expected; // the data chunk of a WAV output
    };
    const Case cases[] = {{2, "s.wav", stereo}, {1, "m.wav", monoOnBoth}, {2, "s.mp3", {}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.output);
        const std::string in = writeWave(dir.file("in.wav"), c.inputChannels, 44100, 1.0);
        const std::string out = dir.file(c.output);
        const Outcome o =
            convert("--channels 2 --rate 44100 " + shellQuoted(in) + " " + shellQuoted(out), dir);
        ASSERT_EQ(0, o.status) << o.err;
        if (!c.expected.empty()) {
            const std::vector<uint8_t> file = readFileBytes(out);
            ASSERT_GT(file.size(), 44u);
            EXPECT_EQ(file[22], 2); // channels in the header
            EXPECT_TRUE(std::vector<uint8_t>(file.begin() + 44, file.end()) == toBytes(c.expected));
        } else if (haveTool("ffprobe")) {
            auto info = probeFile(out);
            EXPECT_EQ("2", info["channels"]);
            EXPECT_EQ("44100", info["sample_rate"]);
        }
    }
}

TEST_F(ConvertTool, AudioCorrelatesWithFfmpegsOwnConversion) {
    if (!haveTool("ffmpeg")) {
        GTEST_SKIP() << "ffmpeg is not installed";
    }
    // A chord with different content per channel, so that the down-mix counts.
    std::string in = dir.file("in.wav");
    int status = 0;
    runCommand("ffmpeg -v error -f lavfi -i 'sine=frequency=300:duration=3' -f lavfi -i "
               "'sine=frequency=1250:duration=3' -filter_complex amerge=inputs=2 -ar 44100 -c:a "
               "pcm_s16le " +
                   shellQuoted(in),
               &status);
    ASSERT_EQ(0, status);
    for (const char* rate : {"22050", "33075", "11025"}) {
        SCOPED_TRACE(rate);
        std::string out = dir.file(std::string("out") + rate + ".wav");
        ASSERT_EQ(0, convert("--rate " + std::string(rate) + " " + shellQuoted(in) + " " +
                                 shellQuoted(out),
                             dir)
                         .status);
        auto ours = waveSamples(out);
        auto reference = decodeMono(in, uint32_t(std::stoul(rate)));
        EXPECT_NEAR(double(reference.size()), double(ours.size()), 64.0);
        EXPECT_GE(bestCorrelation(reference, ours, 48), 0.99);
    }
    // The same chord as FLAC, Ogg Vorbis, Opus and M4A inputs: the same audio
    // comes out, within a codec's delay and loss.
    for (const char* input : {"in.flac", "in.ogg", "in.opus", "in.m4a"}) {
        SCOPED_TRACE(input);
        const std::string encoded = dir.file(input);
        runCommand("ffmpeg -v error -i " + shellQuoted(in) + " " + shellQuoted(encoded), &status);
        ASSERT_EQ(0, status);
        const std::string out = encoded + ".wav";
        ASSERT_EQ(0, convert(shellQuoted(encoded) + " " + shellQuoted(out), dir).status);
        auto ours = waveSamples(out);
        auto reference = decodeMono(in, 22050);
        EXPECT_NEAR(double(reference.size()), double(ours.size()), 2200.0);
        EXPECT_GE(bestCorrelation(reference, ours, 2000, nullptr, 8000), 0.95);
    }
}

TEST_F(ConvertTool, BitrateTextsChooseTheRateAndTheMp3Bitrate) {
    if (!canEncodeMp3() || !haveTool("ffprobe")) {
        GTEST_SKIP() << "needs libmp3lame and ffprobe";
    }
    std::string in = writeWave(dir.file("in.wav"), 2, 44100, 1.0);
    struct Case {
        const char* text;
        const char* rate;
        const char* bitRate;
    } cases[] = {{"64KB", "44100", "64000"}, {"32KB", "22050", "32000"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        std::string out = dir.file(std::string("o-") + c.text + ".mp3");
        Outcome o = convert("--bitrate " + std::string(c.text) + " " + shellQuoted(in) + " " +
                                shellQuoted(out),
                            dir);
        ASSERT_EQ(0, o.status) << o.err;
        auto info = probeFile(out);
        EXPECT_EQ(c.rate, info["sample_rate"]);
        EXPECT_EQ("1", info["channels"]);
        EXPECT_EQ(c.bitRate, info["bit_rate"]);
        EXPECT_EQ("Unknown artist", info["TAG:artist"]);
    }
}

TEST_F(ConvertTool, DirectoryModeConvertsEveryInputInParallel) {
    if (!canEncodeMp3()) {
        GTEST_SKIP() << "libmp3lame is not installed";
    }
    std::filesystem::create_directory(dir.path() / "out");
    std::string args = "--format mp3 --jobs 3";
    for (int i = 0; i < 4; ++i) {
        args += " " + shellQuoted(writeWave(dir.file("song" + std::to_string(i) + ".wav"), 2, 44100,
                                            0.5 + i * 0.25));
    }
    args += " " + shellQuoted((dir.path() / "out").string());
    Outcome o = convert(args, dir);
    ASSERT_EQ(0, o.status) << o.err;
    for (int i = 0; i < 4; ++i) {
        auto file =
            readFileBytes((dir.path() / "out" / ("song" + std::to_string(i) + ".mp3")).string());
        ASSERT_GT(file.size(), 128u) << i;
        EXPECT_EQ(0, std::memcmp(file.data() + file.size() - 128, "TAG", 3));
    }
}

TEST_F(ConvertTool, OneFailedItemMakesTheRunFailButOthersComplete) {
    std::filesystem::create_directory(dir.path() / "out");
    std::string good = writeWave(dir.file("good.wav"), 1, 22050, 0.3);
    writeFileBytes(dir.file("notes.txt"), {'h', 'i', '\n'});
    Outcome o = convert(
        "--format wav " + shellQuoted(good) + " " + shellQuoted(dir.file("missing.wav")) + " " +
            shellQuoted(dir.file("notes.txt")) + " " + shellQuoted((dir.path() / "out").string()),
        dir);
    EXPECT_EQ(1, o.status);
    EXPECT_TRUE(std::filesystem::exists(dir.path() / "out" / "good.wav"));
    EXPECT_NE(std::string::npos, o.err.find("missing.wav: can not open source file!")) << o.err;
    EXPECT_NE(std::string::npos, o.err.find("notes.txt: Unknow audio file! Mixer has emptyed"))
        << o.err;
    // The system's reason follows where the system refused something: a
    // readable file that is not audio has none.
    EXPECT_NE(std::string::npos, o.err.find("missing.wav: No such file or directory\n")) << o.err;
    EXPECT_EQ(o.err.find("No such file"), o.err.rfind("No such file")) << o.err;
}

TEST_F(ConvertTool, ExistingOutputNeedsYes) {
    std::string in = writeWave(dir.file("in.wav"), 1, 22050, 0.3);
    std::string out = dir.file("out.wav");
    writeFileBytes(out, {1, 2, 3, 4});
    Outcome refused = convert(shellQuoted(in) + " " + shellQuoted(out), dir);
    EXPECT_EQ(1, refused.status);
    EXPECT_NE(std::string::npos, refused.err.find("the output file has existed, overwrite it?"))
        << refused.err;
    EXPECT_EQ((std::vector<uint8_t>{1, 2, 3, 4}), readFileBytes(out));

    Outcome forced = convert("--yes " + shellQuoted(in) + " " + shellQuoted(out), dir);
    EXPECT_EQ(0, forced.status) << forced.err;
    EXPECT_GT(readFileBytes(out).size(), 44u);
}

TEST_F(ConvertTool, UnwritableTargetGivesTheWritersMessageAndTheSystemsReason) {
    std::string in = writeWave(dir.file("in.wav"), 1, 22050, 0.3);
    const std::string missing = dir.file("no/such/dir/out.wav");
    Outcome o = convert(shellQuoted(in) + " " + shellQuoted(missing), dir);
    EXPECT_EQ(1, o.status);
    EXPECT_NE(std::string::npos, o.err.find("open out file failed, please check directory exists!"))
        << o.err;
    EXPECT_NE(std::string::npos, o.err.find(missing + ": No such file or directory")) << o.err;

    // A file that cannot grow past 4 KiB, as on a full disk: the old
    // target stays, nothing is left beside it, and the reason is told once.
    const std::string full = dir.file("full.wav");
    writeFileBytes(full, {'o', 'l', 'd'});
    const std::string longer = writeWave(dir.file("longer.wav"), 1, 22050, 10);
    Outcome filled = convert("--yes " + shellQuoted(longer) + " " + shellQuoted(full), dir,
                             "trap '' XFSZ; ulimit -f 4; ");
    EXPECT_EQ(1, filled.status);
    const std::string reason = full + ": File too large";
    EXPECT_NE(std::string::npos, filled.err.find(reason)) << filled.err;
    EXPECT_EQ(filled.err.find(reason), filled.err.rfind(reason)) << filled.err;
    EXPECT_EQ(readFileBytes(full), (std::vector<uint8_t>{'o', 'l', 'd'}));
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
        EXPECT_NE(entry.path().filename().string().front(), '.') << entry.path();
    }

    Outcome directory = convert(shellQuoted(dir.path().string()) + " " + shellQuoted(missing), dir);
    EXPECT_NE(std::string::npos, directory.err.find(dir.path().string() + ": Is a directory"))
        << directory.err;
}

TEST_F(ConvertTool, InputsWithoutAudioFailWithinATimeAndMemoryBudget) {
    // A gibibyte of zeros (sparse), noise, and /dev/zero, each named as
    // compressed audio: probing used to read them to their end, and
    // /dev/zero has none. Noise may hold a few frames that decode, as it
    // does for ffmpeg; the others hold nothing and fail.
    for (const char* name : {"zeros.mp3", "zeros.wma"}) {
        writeFileBytes(dir.file(name), {});
        std::filesystem::resize_file(dir.file(name), uint64_t(1) << 30);
    }
    writeFileBytes(dir.file("noise.mp3"), noiseBytes(32 << 20, 3));
    writeFileBytes(dir.file("noise.wma"), noiseBytes(8 << 20, 4));
    std::filesystem::create_symlink("/dev/zero", dir.file("endless.mp3"));
    for (const char* name : {"zeros.mp3", "zeros.wma", "endless.mp3", "noise.mp3", "noise.wma"}) {
        SCOPED_TRACE(name);
        const std::string out = dir.file(std::string(name) + ".wav");
        MeasuredOutcome o = convertMeasured({dir.file(name), out}, dir);
        // Reading a gibibyte or an endless device to its end takes far more
        // processor time than the budget, however loaded the machine is.
        EXPECT_LT(o.cpuSeconds, kSanitized ? 5.0 : 2.5);
        if (!kSanitized) {
            EXPECT_LT(o.peakKib, 64 * 1024);
        }
        if (std::string(name).rfind("noise", 0) == 0) {
            EXPECT_TRUE(o.status == 0 || o.status == 1) << o.err;
            continue;
        }
        EXPECT_EQ(1, o.status) << o.err;
        EXPECT_NE(std::string::npos, o.err.find("can not open source file!")) << o.err;
        EXPECT_FALSE(std::filesystem::exists(out));
    }
}

TEST_F(ConvertTool, InputsThatAreNotFilesFailAtOnceWithTheirReason) {
    FifoWatch fifo(dir.file("fifo.mp3"));
    FifoWatch waveFifo(dir.file("fifo.wav"));
    ASSERT_TRUE(fifo.made() && waveFifo.made());
    std::filesystem::create_symlink(dir.file("fifo.mp3"), dir.file("link.wma"));
    std::filesystem::create_symlink("/dev/zero", dir.file("zero.wav"));
    const struct {
        const char* name;
        const char* reason;
    } cases[] = {
        {"fifo.mp3", "is a FIFO, not a regular file"},
        {"fifo.wav", "is a FIFO, not a regular file"},
        {"link.wma", "is a FIFO, not a regular file"},
        {"zero.wav", "is a character device, not a regular file"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        MeasuredOutcome o = convertMeasured({dir.file(c.name), dir.file("out.wav")}, dir, 10.0);
        EXPECT_EQ(1, o.status) << o.err;
        // An open that waited for a writer would run into the 10 s limit.
        EXPECT_LT(o.seconds, 5.0);
        EXPECT_NE(std::string::npos, o.err.find("can not open source file!")) << o.err;
        EXPECT_NE(std::string::npos, o.err.find(dir.file(c.name) + ": " + c.reason + "\n"))
            << o.err;
    }
    EXPECT_FALSE(fifo.released() || waveFifo.released());
}

TEST_F(ConvertTool, WaveFormatThatCannotBeConvertedFailsInsteadOfWritingAnEmptyFile) {
    WaveFormat noChannels = pcmFormat(2, 44100, 16);
    noChannels.nChannels = 0;
    WaveFormat unknownTag = pcmFormat(2, 44100, 16);
    unknownTag.wFormatTag = 0x1234;
    for (const WaveFormat& format : {noChannels, unknownTag, pcmFormat(1, 8000, 33)}) {
        writeFileBytes(dir.file("odd.wav"), waveFile(format, std::vector<uint8_t>(8000, 1)));
        Outcome o = convert("--yes " + shellQuoted(dir.file("odd.wav")) + " " +
                                shellQuoted(dir.file("out.wav")),
                            dir);
        EXPECT_EQ(1, o.status) << o.err;
        EXPECT_NE(std::string::npos, o.err.find("can not open source file!")) << o.err;
        EXPECT_FALSE(std::filesystem::exists(dir.file("out.wav")));
    }
}

TEST_F(ConvertTool, CdImageTrackRipsToTheDownMixOfItsBytes) {
    DiscImage image;
    image.audio(75, 11).tone(225, 700);
    std::string cue = image.write(dir.path().string(), "disc");
    std::string out = dir.file("rip.wav");
    Outcome o =
        convert("--rate 44100 --cd " + shellQuoted(cue) + " Track-01 " + shellQuoted(out), dir);
    ASSERT_EQ(0, o.status) << o.err;
    auto stereo = image.trackBytes(1);
    auto mono = waveSamples(out);
    ASSERT_EQ(stereo.size() / 4, mono.size());
    EXPECT_LE(worstDownmixError(stereo, mono), 1);
}

TEST_F(ConvertTool, SignalsLeaveAValidShorterWaveAndTheShellsStatus) {
    // Three hours of silence in a sparse file: the signal always comes long
    // before the end.
    std::string in = dir.file("long.wav");
    writeFileBytes(in, waveFile(pcmFormat(2, 44100, 16), {}));
    std::filesystem::resize_file(in, 44 + uint64_t(3 * 3600) * 176400);
    for (const int signal : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(signal);
        std::string out = dir.file("out.wav");
        std::filesystem::remove(out);
        pid_t pid = 0;
        std::string inArg = in, outArg = out;
        std::vector<char*> argv = {const_cast<char*>(kTool.c_str()), inArg.data(), outArg.data(),
                                   nullptr};
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 2, dir.file("stderr.txt").c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_EQ(0, posix_spawn(&pid, kTool.c_str(), &actions, nullptr, argv.data(), environ));
        posix_spawn_file_actions_destroy(&actions);
        // Signal once the file being written (beside the target, under a
        // hidden name) has grown past its header.
        for (int i = 0; i < 30000; ++i) {
            bool grown = false;
            for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
                std::error_code ec;
                const std::string name = entry.path().filename().string();
                grown = grown || (name.rfind(".out.wav.", 0) == 0 &&
                                  std::filesystem::file_size(entry.path(), ec) > 200000);
            }
            if (grown) {
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        kill(pid, signal);
        int status = 0;
        ASSERT_EQ(pid, waitpid(pid, &status, 0));
        ASSERT_TRUE(WIFEXITED(status)) << "signal " << WTERMSIG(status);
        EXPECT_EQ(128 + signal, WEXITSTATUS(status));
        auto file = readFileBytes(out);
        ASSERT_GE(file.size(), 44u);
        uint32_t n = uint32_t(file[40]) | uint32_t(file[41]) << 8 | uint32_t(file[42]) << 16 |
                     uint32_t(file[43]) << 24;
        EXPECT_EQ(file.size(), size_t(n) + 44);
        EXPECT_GT(n, 0u);
        EXPECT_LT(n, 3u * 3600 * 44100);
        const auto err = readFileBytes(dir.file("stderr.txt"));
        const std::string text(err.begin(), err.end());
        EXPECT_NE(text.find("stopped; the output holds what was converted so far"),
                  std::string::npos)
            << text;
        EXPECT_NE(text.find("1 of 1 items not converted (1 stopped part-way"), std::string::npos)
            << text;
    }
}

TEST_F(ConvertTool, CdImageThatIsNoRealDiscFailsAndNamesTheSheet) {
    DiscImage image;
    image.audio(75, 21).audio(75, 22);
    const std::string cue = image.write(dir.path().string(), "disc");
    // The sheet puts track 2 ten seconds in, past the end of the two-second
    // BIN: track 1 would stop short at its end, track 2 would be empty.
    std::string text = "FILE \"disc.bin\" BINARY\n TRACK 01 AUDIO\n INDEX 01 00:00:00\n"
                       " TRACK 02 AUDIO\n INDEX 01 00:10:00\n";
    writeFileBytes(cue, std::vector<uint8_t>(text.begin(), text.end()));
    for (const char* track : {"Track-00", "Track-01"}) {
        SCOPED_TRACE(track);
        const std::string out = dir.file(std::string(track) + ".wav");
        Outcome o = convert("--cd " + shellQuoted(cue) + " " + track + " " + shellQuoted(out), dir);
        EXPECT_EQ(1, o.status);
        EXPECT_NE(std::string::npos, o.err.find(cue + ": track 2 starts past the end")) << o.err;
        EXPECT_NE(std::string::npos, o.err.find("can not open source file!")) << o.err;
        EXPECT_FALSE(std::filesystem::exists(out));
    }
}

TEST_F(ConvertTool, CdImageNamingAFifoIsRefusedAtOnce) {
    writeFileBytes(dir.file("a.bin"), std::vector<uint8_t>(10 * kCdFrameBytes, 0));
    ASSERT_EQ(0, ::mkfifo(dir.file("pipe.bin").c_str(), 0644));
    ASSERT_EQ(0, ::mkfifo(dir.file("pipe.cue").c_str(), 0644));
    std::filesystem::create_symlink(dir.file("pipe.bin"), dir.file("link.bin"));
    const std::string sheets[][2] = {
        {"FILE \"a.bin\" BINARY\n TRACK 01 AUDIO\n INDEX 01 00:00:00\n"
         "FILE \"pipe.bin\" BINARY\n TRACK 02 AUDIO\n INDEX 01 00:00:00\n",
         "two.cue"},
        {"FILE \"link.bin\" BINARY\n TRACK 01 AUDIO\n INDEX 01 00:00:00\n", "link.cue"},
        {"CD_DA\nTRACK AUDIO\nFILE \"pipe.bin\" 0\n", "pipe.toc"},
    };
    std::vector<std::string> images{dir.file("pipe.cue")};
    for (const auto& [text, name] : sheets) {
        writeFileBytes(dir.file(name), std::vector<uint8_t>(text.begin(), text.end()));
        images.push_back(dir.file(name));
    }
    for (const std::string& image : images) {
        SCOPED_TRACE(image);
        Outcome o =
            convert("--cd " + shellQuoted(image) + " Track-00 " + shellQuoted(dir.file("out.wav")),
                    dir, "timeout 30 ");
        EXPECT_EQ(1, o.status) << o.err; // 124: still blocked after 30 seconds
        EXPECT_NE(std::string::npos, o.err.find("is a FIFO, not a regular file")) << o.err;
    }
}

// The sheet names t1.wav and t2.bin: writing to either, or to the sheet,
// under any name, would destroy the image being read.
TEST_F(ConvertTool, TargetThatIsPartOfTheCdImageIsRefused) {
    DiscImage image;
    image.tone(75, 440).audio(50, 23);
    const std::vector<uint8_t> one = image.trackBytes(0);
    writeFileBytes(dir.file("t1.wav"), waveFile(pcmFormat(2, 44100, 16), one));
    writeFileBytes(dir.file("t2.bin"), image.trackBytes(1));
    const std::string text = "FILE \"t1.wav\" WAVE\n TRACK 01 AUDIO\n INDEX 01 00:00:00\n"
                             "FILE \"t2.bin\" BINARY\n TRACK 02 AUDIO\n INDEX 01 00:00:00\n";
    const std::string cue = dir.file("mixed.cue");
    writeFileBytes(cue, std::vector<uint8_t>(text.begin(), text.end()));
    std::filesystem::create_symlink("t2.bin", dir.file("link.wav"));
    std::filesystem::create_hard_link(cue, dir.file("sheet.mp3"));
    std::filesystem::create_hard_link(dir.file("t2.bin"), dir.file("hard.wav"));
    const auto before = readFileBytes(dir.file("t1.wav"));
    for (const std::string& target :
         {dir.file("t1.wav"), dir.file("link.wav"), dir.file("sheet.mp3"), dir.file("hard.wav"),
          dir.path().string() + "/./t1.wav"}) {
        SCOPED_TRACE(target);
        Outcome o =
            convert("--yes --cd " + shellQuoted(cue) + " Track-00 " + shellQuoted(target), dir);
        EXPECT_EQ(1, o.status);
        EXPECT_NE(std::string::npos,
                  o.err.find("the output file is the source file itself, please choose another "
                             "name!"))
            << o.err;
    }
    EXPECT_EQ(before, readFileBytes(dir.file("t1.wav")));
    EXPECT_EQ(image.trackBytes(1), readFileBytes(dir.file("t2.bin")));
    EXPECT_EQ(text.size(), readFileBytes(cue).size());
    // Another name rips as before.
    Outcome o = convert("--rate 44100 --cd " + shellQuoted(cue) + " Track-00 " +
                            shellQuoted(dir.file("rip.wav")),
                        dir);
    EXPECT_EQ(0, o.status) << o.err;
    EXPECT_EQ(one.size() / 4, waveSamples(dir.file("rip.wav")).size());
}

TEST_F(ConvertTool, SlowStorageOpensHoweverLongItsReadsTake) {
    if (kSanitized) {
        GTEST_SKIP() << "a preloaded library cannot come before the sanitizer's runtime";
    }
    if (!haveTool("ffmpeg")) {
        GTEST_SKIP() << "ffmpeg is not installed";
    }
    const std::string in = dir.file("slow.mp3");
    int status = 0;
    runCommand("ffmpeg -v error -f lavfi -i 'sine=frequency=440:duration=6' -ar 44100 -c:a "
               "libmp3lame -b:a 128k " +
                   shellQuoted(in),
               &status);
    ASSERT_EQ(0, status);
    // Every read of the input waits two seconds, so opening alone takes
    // that long: a file on a slow mount, not a hostile one.
    const std::string out = dir.file("out.wav");
    const auto start = std::chrono::steady_clock::now();
    Outcome o = convert(shellQuoted(in) + " " + shellQuoted(out), dir,
                        "VELUMO_SLOW_READ_SUFFIX=slow.mp3 VELUMO_SLOW_READ_MS=2000 "
                        "LD_PRELOAD=" VELUMO_SLOW_READ " ");
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(0, o.status) << o.err;
    EXPECT_GT(seconds, 4.0); // the reads were slow indeed
    // All six seconds at the default 22050 Hz mono, give or take the
    // decoder's edges.
    const double heard = (static_cast<double>(readFileBytes(out).size()) - 44) / (22050 * 2);
    EXPECT_NEAR(heard, 6.0, 0.1);
}
