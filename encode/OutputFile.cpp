#include "encode/OutputFile.h"

#include "platform/MessageBox.h"

#include <cerrno>
#include <cstring>

namespace {
// Large stdio buffers: the writers hand over a tenth of a second at a time,
// and fewer, larger system writes keep a conversion cheap.
constexpr size_t kFileBufferBytes = 256 * 1024;
} // namespace

OutputFile::OutputFile() : pending(AudioBuffer::allocate(1024)) {}

OutputFile::~OutputFile() = default;

void OutputFile::SetSource(AudioStream* stream) {
    source = stream;
    if (stream && stream->GetFormat()) {
        std::memcpy(&format, stream->GetFormat(), kWaveFormatBaseSize);
    }
}

void OutputFile::SetFormat(const WaveFormat& pcm) {
    std::memcpy(&format, &pcm, kWaveFormatBaseSize);
}

void OutputFile::SetFileName(const std::string& path) {
    fileName = path;
}

void OutputFile::Stop() {
    running.store(false, std::memory_order_release);
}

bool OutputFile::Open(bool noPrompt) {
    if (fileName.empty()) {
        return false;
    }
    if (!noPrompt) {
        if (FILE* probe = std::fopen(fileName.c_str(), "rb")) {
            std::fclose(probe);
            if (!askYesNo(kOverwriteQuestion, kOverwriteCaption)) {
                return false;
            }
        }
    }
    if (file) {
        // A file left open by an earlier use is completed as it stands.
        std::fclose(file);
        file = nullptr;
    }
    systemError = 0;
    file = std::fopen(fileName.c_str(), "wb");
    if (!file) {
        noteSystemError();
        showMessage(kOpenFailedMessage);
        return false;
    }
    std::setvbuf(file, nullptr, _IOFBF, kFileBufferBytes);
    pending.clear();
    running.store(true, std::memory_order_release);
    return true;
}

bool OutputFile::writeToFile(const void* bytes, size_t count) {
    if (!file) {
        return false;
    }
    if (count == 0 || std::fwrite(bytes, 1, count, file) == count) {
        return true;
    }
    noteSystemError();
    return false;
}

void OutputFile::noteSystemError() {
    if (systemError == 0) {
        systemError = errno != 0 ? errno : EIO;
    }
}

bool OutputFile::Write(AudioBuffer buffer) {
    if (!pending.appendBuffer(buffer)) {
        return false;
    }
    buffer = AudioBuffer();
    if (pending.kind() == BufferKind::None || pending.length() == 0 || !isRunning()) {
        return true;
    }
    AudioBuffer out;
    if (!Encode(pending, out)) {
        return false;
    }
    if (!out.hasBlock()) {
        return true;
    }
    return writeToFile(out.data(), out.length());
}

bool OutputFile::Run() {
    if (!source) {
        return false;
    }
    if (!Open(false)) {
        return false;
    }
    if (!Begin()) {
        // Nothing sensible can follow a file that could not be started; the
        // writer's Finish must not run on an encoder that never began.
        Close();
        return false;
    }
    bool ok = true;
    bool more = true;
    while (more) {
        AudioBuffer buffer = source->GetBuffer();
        more = !buffer.isEmpty();
        if (!Write(std::move(buffer))) {
            ok = false;
        }
        more = more && isRunning();
    }
    if (!Finish()) {
        ok = false;
    }
    if (file && std::fflush(file) != 0) {
        noteSystemError();
        ok = false; // the disk refused the tail of the file
    }
    Close();
    return ok;
}

bool OutputFile::Close() {
    running.store(false, std::memory_order_release);
    if (file) {
        std::fflush(file);
        std::fclose(file);
        file = nullptr;
    }
    return true;
}
