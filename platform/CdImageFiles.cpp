#include "platform/CdImageFiles.h"

#include <algorithm>
#include <fstream>
#include <utility>

namespace {

std::vector<struct stat> identify(const std::vector<std::string>& paths) {
    std::vector<struct stat> out;
    for (const auto& path : paths) {
        struct stat st {};
        if (::stat(path.c_str(), &st) == 0) {
            out.push_back(st);
        }
    }
    return out;
}

bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
           a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

} // namespace

CdImageFiles::CdImageFiles(std::vector<std::string> names)
    : paths(std::move(names)), identities(identify(paths)) {}

bool CdImageFiles::unchanged() const {
    const std::vector<struct stat> now = identify(paths);
    return std::equal(now.begin(), now.end(), identities.begin(), identities.end(), sameFile);
}

std::string CdImageFiles::readTextStart(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string text(1 << 20, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<size_t>(std::max<std::streamsize>(in.gcount(), 0)));
    return text;
}
