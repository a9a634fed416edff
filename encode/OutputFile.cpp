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

// The mode a new file gets from fopen: 0666 less the process's umask.
mode_t newFileMode() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}
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
        if (FILE* probe = std::fopen(fileName.c_str(), "rb")) {
            std::fclose(probe);
            if (!askYesNo(kOverwriteQuestion, kOverwriteCaption)) {
                return false;
            }
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
    const size_t slash = fileName.rfind('/');
    const std::string directory = slash == std::string::npos ? "" : fileName.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? fileName : fileName.substr(slash + 1);
    temporaryName = directory + "." + name + ".velumo-XXXXXX";
    const int fd = ::mkostemp(temporaryName.data(), O_CLOEXEC);
    if (fd >= 0) {
        // The new file gets the mode the target has, or a new file's mode.
        struct stat old {};
        const mode_t mode = ::stat(fileName.c_str(), &old) == 0 && S_ISREG(old.st_mode)
                                ? (old.st_mode & 07777)
                                : newFileMode();
        [[maybe_unused]] const int changed = ::fchmod(fd, mode); // mkstemp's 0600 is safe too
        file = ::fdopen(fd, "wb");
        if (!file) {
            ::close(fd);
        }
    }
    if (!file) {
        noteSystemError();
        if (fd >= 0) {
            ::unlink(temporaryName.c_str());
        }
        temporaryName.clear();
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
    if (ok && std::rename(temporaryName.c_str(), fileName.c_str()) != 0) {
        noteSystemError();
        ok = false;
    }
    if (!ok) {
        ::unlink(temporaryName.c_str());
    }
    temporaryName.clear();
    return ok;
}

void OutputFile::Discard() {
    running.store(false, std::memory_order_release);
    if (file) {
        std::fclose(file);
        file = nullptr;
        ::unlink(temporaryName.c_str());
    }
    temporaryName.clear();
}
