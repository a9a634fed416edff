#include "platform/TocImage.h"

#include "platform/CdImageFiles.h"
#include "platform/CdioDisc.h"

#include <cdio/cdio.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

// A start or length of a FILE line in bytes: "mm:ss:ff" frames, or a count
// of samples (4 bytes each). False for anything else.
bool parseTocTime(const std::string& word, uint64_t* bytes) {
    unsigned m = 0;
    unsigned s = 0;
    unsigned f = 0;
    char tail = 0;
    if (std::sscanf(word.c_str(), "%u:%u:%u%c", &m, &s, &f, &tail) == 3 && s < 60 && f < 75) {
        *bytes = ((uint64_t{m} * 60 + s) * 75 + f) * kCdFrameBytes;
        return true;
    }
    if (word.empty() || word.find_first_not_of("0123456789") != std::string::npos ||
        word.size() > 12) {
        return false;
    }
    *bytes = std::strtoull(word.c_str(), nullptr, 10) * 4;
    return true;
}

std::string msf(uint64_t frames) {
    char text[32];
    std::snprintf(text, sizeof text, "%02llu:%02llu:%02llu",
                  static_cast<unsigned long long>(frames / (75 * 60)),
                  static_cast<unsigned long long>((frames / 75) % 60),
                  static_cast<unsigned long long>(frames % 75));
    return text;
}

// The words of the rest of a line after the file name, with where each
// ends in the line; a "//" comment ends them.
std::vector<std::pair<std::string, size_t>> wordsAfter(const std::string& line, size_t at) {
    std::vector<std::pair<std::string, size_t>> out;
    while (at < line.size()) {
        at = line.find_first_not_of(" \t\r\n", at);
        if (at == std::string::npos || line.compare(at, 2, "//") == 0) {
            break;
        }
        const size_t end = std::min(line.find_first_of(" \t\r\n", at), line.size());
        out.emplace_back(line.substr(at, end - at), end);
        at = end;
    }
    return out;
}

struct TocRewrite {
    std::string copy;                   // the TOC as the library is to read it
    bool changed = false;               // whether copy differs from the TOC
    std::vector<std::string> dataFiles; // as resolved from the TOC's folder
};

// Checks and completes the FILE, AUDIOFILE and DATAFILE lines of a TOC:
// each names a regular file; a relative name gets the TOC's folder put
// before it; an audio file line with a start but no length gets the length
// of the data left in the file after the start, which the library would
// otherwise take as the whole file's (repeating earlier audio at the end of
// the track). False with the reason in *error.
bool rewriteToc(const std::string& text, const std::string& dir, TocRewrite* out,
                std::string* error) {
    size_t at = 0;
    int lineNumber = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        end = end == std::string::npos ? text.size() : end + 1;
        std::string line = text.substr(at, end - at);
        at = end;
        ++lineNumber;
        const size_t first = line.find_first_not_of(" \t");
        const size_t quote = line.find('"');
        if (first == std::string::npos || quote == std::string::npos) {
            out->copy += line;
            continue;
        }
        const std::string keyword = line.substr(first, line.find_first_of(" \t\"", first) - first);
        const bool audio = keyword == "FILE" || keyword == "AUDIOFILE";
        if (!audio && keyword != "DATAFILE") {
            out->copy += line;
            continue;
        }
        const size_t close = line.find('"', quote + 1);
        if (close == std::string::npos) {
            *error = "line " + std::to_string(lineNumber) + ": the file name has no closing quote";
            return false;
        }
        const std::string name = line.substr(quote + 1, close - quote - 1);
        const bool relative = name.empty() || name[0] != '/';
        const std::string resolved = relative ? dir + name : name;
        if (!CdImageFiles::isRegularFile(resolved, error)) {
            return false;
        }
        out->dataFiles.push_back(resolved);
        const auto words = wordsAfter(line, close + 1);
        size_t w = !words.empty() && words[0].first[0] == '#' ? 1 : 0;
        uint64_t startBytes = 0;
        if (audio && words.size() == w + 1 && parseTocTime(words[w].first, &startBytes) &&
            startBytes != 0) {
            // "#n": the track's data begins n bytes into the file.
            const uint64_t offset =
                w == 1 ? std::strtoull(words[0].first.c_str() + 1, nullptr, 10) : 0;
            struct stat st {};
            const uint64_t size =
                ::stat(resolved.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
            if (size < offset + startBytes + kCdFrameBytes) {
                *error = "line " + std::to_string(lineNumber) + ": the track starts past the end " +
                         "of its data file " + resolved;
                return false;
            }
            line.insert(words[w].second, " " + msf((size - offset - startBytes) / kCdFrameBytes));
            out->changed = true;
        }
        if (relative && !dir.empty()) {
            line.insert(quote + 1, dir);
            out->changed = true;
        }
        out->copy += line;
    }
    return true;
}

// The library reads the copy, made in $TMPDIR or /tmp and removed once read.
CdIo_t* openCopy(const std::string& copy, const std::string& path) {
    const char* tmp = std::getenv("TMPDIR");
    std::string name = std::string(tmp && *tmp ? tmp : "/tmp") + "/velumo-toc-XXXXXX.toc";
    const int fd = ::mkstemps(name.data(), 4);
    if (fd < 0) {
        return cdio_open(path.c_str(), DRIVER_CDRDAO);
    }
    bool written = ::write(fd, copy.data(), copy.size()) == static_cast<ssize_t>(copy.size());
    ::close(fd);
    CdIo_t* cdio = written ? cdio_open(name.c_str(), DRIVER_CDRDAO) : nullptr;
    ::unlink(name.c_str());
    return cdio;
}

} // namespace

std::unique_ptr<CdDisc> openTocImage(const std::string& path) {
    std::string text;
    std::string error;
    TocRewrite rewrite;
    const size_t slash = path.find_last_of('/');
    const std::string dir = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    if (!CdImageFiles::readText(path, &text, &error)) {
        std::fprintf(stderr, "velumo: cd: %s\n", error.c_str());
        return nullptr;
    }
    if (!rewriteToc(text, dir, &rewrite, &error)) {
        std::fprintf(stderr, "velumo: cd: %s: %s\n", path.c_str(), error.c_str());
        return nullptr;
    }
    CdIo_t* cdio =
        rewrite.changed ? openCopy(rewrite.copy, path) : cdio_open(path.c_str(), DRIVER_CDRDAO);
    return CdioDisc::adoptImage(cdio, path, rewrite.dataFiles);
}
