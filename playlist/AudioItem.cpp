#include "playlist/AudioItem.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

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

struct KnownExtension {
    const char* text;
    FileKind kind;
};

constexpr KnownExtension kKnownExtensions[] = {
    {"wav", FileKind::Wave},  {"mp3", FileKind::Mp3}, {"wma", FileKind::Wma},
    {"flac", FileKind::Flac}, {"ogg", FileKind::Ogg}, {"oga", FileKind::Ogg},
    {"opus", FileKind::Opus}, {"m4a", FileKind::M4a},
};

std::string extensionOf(const std::string& path, ExtensionRule rule) {
    switch (rule) {
    case ExtensionRule::LastThree:
        return path;
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

// The known extension that names path's kind, or null.
const KnownExtension* knownExtension(const std::string& path, ExtensionRule rule,
                                     CaseRule caseRule) {
    const std::string extension = extensionOf(path, rule);
    for (const KnownExtension& known : kKnownExtensions) {
        const size_t length = std::strlen(known.text);
        // LastThree compares the path's ending; the other rules the whole
        // extension.
        if (rule == ExtensionRule::LastThree) {
            if (extension.size() >= length &&
                sameText(extension.substr(extension.size() - length), known.text, caseRule)) {
                return &known;
            }
        } else if (sameText(extension, known.text, caseRule)) {
            return &known;
        }
    }
    return nullptr;
}

} // namespace

FileKind fileKind(const std::string& path, ExtensionRule rule, CaseRule caseRule) {
    const KnownExtension* known = knownExtension(path, rule, caseRule);
    return known ? known->kind : FileKind::Other;
}

std::string kindExtension(const std::string& path, ExtensionRule rule, CaseRule caseRule) {
    const KnownExtension* known = knownExtension(path, rule, caseRule);
    if (!known) {
        return {};
    }
    return path.substr(path.size() - std::strlen(known->text));
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
