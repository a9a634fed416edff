#include "platform/TocImage.h"

#include "platform/CdImageFiles.h"
#include "platform/CdioDisc.h"

#include <cdio/cdio.h>

#include <unistd.h>

#include <cstdlib>

namespace {

// The TOC text with the TOC's folder put before every relative name of a
// FILE, AUDIOFILE or DATAFILE line; false when it names none.
bool withFullPaths(const std::string& text, const std::string& dir, std::string* copy) {
    bool changed = false;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        end = end == std::string::npos ? text.size() : end + 1;
        std::string line = text.substr(at, end - at);
        at = end;
        const size_t first = line.find_first_not_of(" \t");
        const size_t quote = line.find('"');
        if (first != std::string::npos && quote != std::string::npos && quote + 1 < line.size() &&
            line[quote + 1] != '/') {
            const std::string keyword =
                line.substr(first, line.find_first_of(" \t\"", first) - first);
            if (keyword == "FILE" || keyword == "AUDIOFILE" || keyword == "DATAFILE") {
                line.insert(quote + 1, dir);
                changed = true;
            }
        }
        *copy += line;
    }
    return changed;
}

CdIo_t* openToc(const std::string& path) {
    const std::string text = CdImageFiles::readTextStart(path);
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos || text.empty()) {
        return cdio_open(path.c_str(), DRIVER_CDRDAO);
    }
    std::string copy;
    if (!withFullPaths(text, path.substr(0, slash + 1), &copy)) {
        return cdio_open(path.c_str(), DRIVER_CDRDAO);
    }
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
    return CdioDisc::adoptImage(openToc(path), path);
}
