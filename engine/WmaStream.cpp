#include "engine/WmaStream.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <new>

namespace {

constexpr uint64_t kUnitsPerSecond = 10000000;
// The result of a failed allocation, as a Win32-facility HRESULT.
constexpr int32_t kInsufficientMemory = static_cast<int32_t>(0x80070008);

// True for a URL with a scheme ("http://", "rtsp://", "ftp://"): the media
// library would fetch it from the network. Any other name is a local file,
// even one that begins with "http" (a file named http_x.mp3).
bool namesAStream(const char* path) {
    const char* p = path;
    if (!std::isalpha(static_cast<unsigned char>(*p))) {
        return false;
    }
    while (std::isalnum(static_cast<unsigned char>(*p)) || *p == '+' || *p == '-' || *p == '.') {
        ++p;
    }
    return std::strncmp(p, "://", 3) == 0;
}

} // namespace

WmaStream::WmaStream() = default;

WmaStream::~WmaStream() {
    releaseReader();
}

void WmaStream::releaseReader() {
    if (reader) {
        reader->close();
        reader.reset();
    }
}

void WmaStream::SetStopFlag(const std::atomic<bool>* flag) {
    stopFlag = flag;
    if (reader) {
        reader->setStopFlag(flag);
    }
}

int32_t WmaStream::Open(const char* path) {
    if (!path || !*path) {
        return kMediaInvalidArg;
    }
    if (namesAStream(path)) {
        std::printf("Wrong input file - streams are not supported : (hr=0x%08x).\n", 0u);
        return kMediaInvalidArg;
    }
    releaseReader();
    tags = MediaTags{};
    reader.reset(new (std::nothrow) MediaReader);
    if (!reader) {
        std::printf("Could not create reader (hr=0x%08x).\n",
                    static_cast<unsigned>(kMediaOutOfMemory));
        return kMediaOutOfMemory;
    }
    reader->setStopFlag(stopFlag);
    MediaResult hr = reader->open(path);
    if (hr < 0) {
        releaseReader();
        std::printf("Could not open file (hr=0x%08x).\n", static_cast<unsigned>(hr));
        return hr;
    }

    duration = 0;
    MediaAttributeType type = MediaAttributeType::Qword;
    uint16_t length = 0;
    hr = reader->getAttributeByName(0, "Duration", &type, nullptr, &length);
    if (hr >= 0 && hr != kMediaNotFound && length >= sizeof(uint64_t)) {
        std::unique_ptr<uint8_t[]> value(new (std::nothrow) uint8_t[length]);
        if (value && reader->getAttributeByName(0, "Duration", &type, value.get(), &length) >= 0 &&
            length >= sizeof(uint64_t)) {
            std::memcpy(&duration, value.get(), sizeof duration);
        }
    }

    hr = findAudioOutput();
    if (hr < 0) {
        releaseReader();
        std::printf("File has not audio (hr=0x%08x).\n", static_cast<unsigned>(hr));
        return hr;
    }
    time = 0;
    tags = reader->tags();
    return hr;
}

int32_t WmaStream::findAudioOutput() {
    if (!reader) {
        return kMediaUnexpected;
    }
    const char* failure = nullptr;
    MediaResult hr = kMediaOk;
    uint32_t count = 0;
    std::unique_ptr<MediaOutputProps> props;
    std::unique_ptr<uint8_t[]> typeBytes;
    MediaType* media = nullptr;
    bool found = false;

    hr = reader->getOutputCount(&count);
    if (hr < 0) {
        failure = "Could not get output count";
    }
    for (uint32_t i = 0; !failure && i < count; ++i) {
        hr = reader->getOutputProps(i, &props);
        if (hr < 0) {
            failure = "Could not get output props";
            break;
        }
        uint32_t size = 0;
        hr = props->getMediaType(nullptr, &size);
        if (hr < 0) {
            failure = "Could not query for the space needed for media type";
            break;
        }
        typeBytes.reset(new (std::nothrow) uint8_t[size]);
        if (!typeBytes) {
            hr = kInsufficientMemory;
            failure = "Insufficient memory";
            break;
        }
        media = reinterpret_cast<MediaType*>(typeBytes.get());
        hr = props->getMediaType(media, &size);
        if (hr < 0) {
            failure = "Could not get media type";
            break;
        }
        if (std::memcmp(media->majorType, kMediaTypeAudio, sizeof media->majorType) == 0) {
            outputNumber = i;
            found = true;
            break;
        }
        props.reset();
    }
    if (!failure && !found) {
        hr = kMediaUnexpected;
        failure = "Could not find an audio stream in the specified file";
    }
    if (failure) {
        std::printf("%s (hr=%#X)", failure, static_cast<unsigned>(hr));
        return hr;
    }
    format.assignBytes(media->format, media->formatSize);
    requestSize = tenthOfSecondBytes(*format);
    return hr;
}

AudioBuffer WmaStream::GetBuffer() {
    if (!reader) {
        return {};
    }
    roundRequestSize(*format);
    std::unique_ptr<MediaSample> sample;
    uint64_t sampleTime = 0;
    uint64_t sampleDuration = 0;
    uint32_t flags = 0;
    if (reader->getNextSample(0, &sample, &sampleTime, &sampleDuration, &flags, &outputNumber,
                              nullptr) < 0) {
        return {};
    }
    time += sampleDuration;
    uint8_t* bytes = nullptr;
    uint32_t length = 0;
    if (sample->getBufferAndLength(&bytes, &length) < 0) {
        return {};
    }
    AudioBuffer buffer = AudioBuffer::allocate(length);
    if (buffer.length() != length) {
        return {};
    }
    buffer.setKind(BufferKind::WaveOut);
    std::memcpy(buffer.data(), bytes, length);
    return buffer;
}

void WmaStream::Rewind() {
    if (reader) {
        reader->setRange(0, 0);
    }
    time = 0;
}

void WmaStream::Seek(uint32_t seconds) {
    if (reader) {
        uint64_t start = static_cast<uint64_t>(seconds) * kUnitsPerSecond;
        reader->setRange(start, 0);
        time = start;
    }
}

// Whole seconds: the integer division drops the fraction on purpose.
double WmaStream::GetPosition() {
    return static_cast<double>(time / kUnitsPerSecond); // NOLINT(bugprone-integer-division)
}

double WmaStream::GetDuration() {
    return static_cast<double>(duration / kUnitsPerSecond); // NOLINT(bugprone-integer-division)
}
