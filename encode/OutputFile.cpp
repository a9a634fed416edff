#include "encode/OutputFile.h"

#include "platform/MessageBox.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// Large stdio buffers: the writers hand over a tenth of a second at a time,
// and fewer, larger system writes keep a conversion cheap.
constexpr size_t kFileBufferBytes = 256 * 1024;

} // namespace

OutputFile::OutputFile() : pending(AudioBuffer::allocate(1024)) {}

OutputFile::~OutputFile() {
    // A file never closed is not complete.
    Discard();
}

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
        // Only a regular file is replaced; anything else is refused below
        // without a question.
        struct stat existing {};
        if (::stat(fileName.c_str(), &existing) == 0 && S_ISREG(existing.st_mode) &&
            !askYesNo(kOverwriteQuestion, kOverwriteCaption)) {
            return false;
        }
    }
    if (file) {
        // A file left open by an earlier use is completed as it stands.
        Close();
    }
    systemError = 0;
    endedAtLimit = false;
    // The bytes go to a new file beside the target, which replaces the
    // target only once complete: a failed job leaves the old file as it was.
    if (replacement.open(fileName)) {
        const int fd = ::dup(replacement.fd());
        file = fd >= 0 ? ::fdopen(fd, "wb") : nullptr;
        if (!file && fd >= 0) {
            ::close(fd);
        }
        if (!file) {
            noteSystemError();
            replacement.discard();
        }
    } else {
        systemError = replacement.error(); // 0 for a target that is no file
    }
    if (!file) {
        // Something other than a regular file is named with what it is; a
        // file that cannot be created gets the usual message.
        showMessage(replacement.error() == 0 && !replacement.problem().empty()
                        ? fileName + ": " + replacement.problem()
                        : std::string(kOpenFailedMessage));
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
        Discard();
        return false;
    }
    bool ok = true;
    bool more = true;
    while (more) {
        AudioBuffer buffer = source->GetBuffer();
        more = !buffer.isEmpty();
        if (!Write(std::move(buffer))) {
            // Nothing after a failed write can make the file whole: stop
            // reading the source.
            ok = false;
            break;
        }
        more = more && isRunning();
    }
    if (!ok && endedAtLimit) {
        // The writer refused more than its format can describe, and said
        // so: what it holds is a whole file, which is kept; the run still
        // fails.
        Finish();
        Close();
        return false;
    }
    if (ok && !Finish()) {
        ok = false;
    }
    if (!ok) {
        if (systemError != 0) {
            showMessage(fileName + ": " + std::strerror(systemError));
        }
        Discard();
        return false;
    }
    if (!Close()) {
        showMessage(fileName + ": " + std::strerror(systemError));
        return false;
    }
    return true;
}

bool OutputFile::Close() {
    running.store(false, std::memory_order_release);
    if (!file) {
        return true;
    }
    bool ok = std::fflush(file) == 0;
    if (!ok) {
        noteSystemError(); // the disk refused the tail of the file
    }
    if (std::fclose(file) != 0 && ok) {
        noteSystemError();
        ok = false;
    }
    file = nullptr;
    if (ok && !replacement.commit()) {
        systemError = systemError != 0 ? systemError : replacement.error();
        ok = false;
    }
    if (!ok) {
        replacement.discard();
    }
    return ok;
}

void OutputFile::Discard() {
    running.store(false, std::memory_order_release);
    if (file) {
        std::fclose(file);
        file = nullptr;
    }
    replacement.discard();
}
