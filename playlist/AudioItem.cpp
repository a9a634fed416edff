#include "playlist/AudioItem.h"

#include <cstdio>
#include <cstdlib>

namespace {

char lowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

bool sameText(const std::string& text, const char* expected, CaseRule caseRule) {
    size_t i = 0;
    for (; i < text.size() && expected[i] != '\0'; ++i) {
        const char c = caseRule == CaseRule::AnyCase ? lowerAscii(text[i]) : text[i];
        if (c != expected[i]) {
            return false;
        }
    }
    return i == text.size() && expected[i] == '\0';
}

std::string extensionOf(const std::string& path, ExtensionRule rule) {
    switch (rule) {
    case ExtensionRule::LastThree:
        return path.size() >= 3 ? path.substr(path.size() - 3) : std::string();
    case ExtensionRule::AfterLastDot: {
        const size_t dot = path.rfind('.');
        return dot == std::string::npos || dot == 0 ? std::string() : path.substr(dot + 1);
    }
    case ExtensionRule::OfFileName: {
        const size_t slash = path.rfind('/');
        const size_t start = slash == std::string::npos ? 0 : slash + 1;
        const size_t dot = path.rfind('.');
        return dot == std::string::npos || dot <= start ? std::string() : path.substr(dot + 1);
    }
    }
    return {};
}

} // namespace

FileKind fileKind(const std::string& path, ExtensionRule rule, CaseRule caseRule) {
    const std::string extension = extensionOf(path, rule);
    if (sameText(extension, "wav", caseRule)) {
        return FileKind::Wave;
    }
    if (sameText(extension, "mp3", caseRule)) {
        return FileKind::Mp3;
    }
    if (sameText(extension, "wma", caseRule)) {
        return FileKind::Wma;
    }
    return FileKind::Other;
}

bool isCdRow(const std::string& path) {
    return path == kCdRowPath;
}

std::string rowItem(const std::string& name, const std::string& path) {
    return isCdRow(path) ? name : path;
}

std::string trackName(int index) {
    char name[32];
    std::snprintf(name, sizeof name, "Track-%02d", index);
    return name;
}

bool isTrackName(const std::string& name) {
    const auto digit = [](char c) { return c >= '0' && c <= '9'; };
    return name.size() == 8 && sameText(name.substr(0, 6), "track-", CaseRule::AnyCase) &&
           digit(name[6]) && digit(name[7]);
}

int trackIndexOfName(const std::string& name) {
    if (name.size() < 6 || name[5] != '-') {
        return 0;
    }
    int index = 0;
    for (size_t i = 6; i < name.size() && i < 8 && name[i] >= '0' && name[i] <= '9'; ++i) {
        index = index * 10 + (name[i] - '0');
    }
    return index;
}

int trackIndexOfTitle(const std::string& title) {
    const std::string digits = title.size() >= 2 ? title.substr(title.size() - 2) : title;
    return std::atoi(digits.c_str());
}

bool isLoadableItem(const std::string& item) {
    return fileKind(item, ExtensionRule::LastThree) != FileKind::Other || isTrackName(item);
}
