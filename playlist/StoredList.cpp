#include "playlist/StoredList.h"

#include "base/LittleEndian.h"

#include <cstring>

namespace {

// Reads little-endian values from a byte range; every read checks the bounds
// and a failed read leaves the reader in the failed state.
class ByteReader {
  public:
    ByteReader(const uint8_t* bytes, size_t count) : data(bytes), size(count) {}

    bool ok() const { return !failed; }
    size_t remaining() const { return size - pos; }

    bool u8(uint8_t& v) {
        const uint8_t* p = take(1);
        v = p ? *p : v;
        return p != nullptr;
    }
    bool u16(uint16_t& v) {
        const uint8_t* p = take(2);
        v = p ? readLe16(p) : v;
        return p != nullptr;
    }
    bool u32(uint32_t& v) {
        const uint8_t* p = take(4);
        v = p ? readLe32(p) : v;
        return p != nullptr;
    }
    const uint8_t* take(size_t n) {
        if (!need(n)) {
            return nullptr;
        }
        const uint8_t* p = data + pos;
        pos += n;
        return p;
    }

  private:
    bool need(size_t n) {
        if (failed || n > size - pos) {
            failed = true;
            return false;
        }
        return true;
    }

    const uint8_t* data;
    size_t size;
    size_t pos = 0;
    bool failed = false;
};

enum class CharSize { Narrow, Wide };

// The length prefix of an archive string, in characters. A wide-character
// marker switches to 16-bit characters and is followed by the real prefix;
// a second marker is malformed.
bool readLength(ByteReader& in, uint32_t& length, CharSize& charSize) {
    charSize = CharSize::Narrow;
    for (;;) {
        uint8_t b = 0;
        if (!in.u8(b)) {
            return false;
        }
        if (b < 0xFF) {
            length = b;
            return true;
        }
        uint16_t w = 0;
        if (!in.u16(w)) {
            return false;
        }
        if (w == 0xFFFE) {
            if (charSize == CharSize::Wide) {
                return false;
            }
            charSize = CharSize::Wide;
            continue;
        }
        if (w < 0xFFFF) {
            length = w;
            return true;
        }
        uint32_t d = 0;
        if (!in.u32(d)) {
            return false;
        }
        // 0xFFFFFFFF would introduce a 64-bit length: no stored list is that large.
        if (d == 0xFFFFFFFFu) {
            return false;
        }
        length = d;
        return true;
    }
}

void appendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | cp >> 6);
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | cp >> 12);
        out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | cp >> 18);
        out += static_cast<char>(0x80 | (cp >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// UTF-16 little-endian to UTF-8; unpaired surrogates become U+FFFD.
std::string wideToUtf8(const uint8_t* p, uint32_t chars) {
    std::string out;
    out.reserve(chars);
    for (uint32_t i = 0; i < chars; ++i) {
        uint32_t c = static_cast<uint32_t>(p[2 * i] | p[2 * i + 1] << 8);
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < chars) {
            uint32_t low = static_cast<uint32_t>(p[2 * i + 2] | p[2 * i + 3] << 8);
            if (low >= 0xDC00 && low < 0xE000) {
                appendUtf8(out, 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00));
                ++i;
                continue;
            }
        }
        if (c >= 0xD800 && c < 0xE000) {
            c = 0xFFFD;
        }
        appendUtf8(out, c);
    }
    return out;
}

bool readArchiveString(ByteReader& in, std::string& text) {
    uint32_t length = 0;
    CharSize charSize = CharSize::Narrow;
    if (!readLength(in, length, charSize)) {
        return false;
    }
    // Check the whole length against the data before anything is allocated.
    const size_t bytes = charSize == CharSize::Wide ? size_t{length} * 2 : size_t{length};
    const uint8_t* p = in.take(bytes);
    if (p == nullptr) {
        return false;
    }
    if (charSize == CharSize::Wide) {
        text = wideToUtf8(p, length);
    } else {
        text.assign(reinterpret_cast<const char*>(p), bytes);
    }
    return true;
}

} // namespace

void appendArchiveString(std::vector<uint8_t>& out, std::string_view text) {
    const size_t n = text.size();
    if (n < 0xFF) {
        out.push_back(static_cast<uint8_t>(n));
    } else if (n < 0xFFFE) {
        out.push_back(0xFF);
        out.push_back(static_cast<uint8_t>(n & 0xFF));
        out.push_back(static_cast<uint8_t>(n >> 8));
    } else {
        // Texts of 4 GiB and more cannot be stored; keep the first part
        // rather than write a length that a reader would misread.
        const uint32_t n32 = n < 0xFFFFFFFFu ? static_cast<uint32_t>(n) : 0xFFFFFFFEu;
        out.insert(out.end(), {0xFF, 0xFF, 0xFF});
        for (int shift = 0; shift < 32; shift += 8) {
            out.push_back(static_cast<uint8_t>(n32 >> shift & 0xFF));
        }
        out.insert(out.end(), text.begin(), text.begin() + n32);
        return;
    }
    out.insert(out.end(), text.begin(), text.end());
}

std::vector<uint8_t> encodeStoredList(const std::vector<StoredRow>& rows) {
    std::vector<uint8_t> out;
    const auto count = static_cast<uint32_t>(rows.size());
    for (int shift = 0; shift < 32; shift += 8) {
        out.push_back(static_cast<uint8_t>(count >> shift & 0xFF));
    }
    for (const StoredRow& row : rows) {
        for (const std::string& text : row) {
            appendArchiveString(out, text);
        }
    }
    return out;
}

StoredListDecoding decodeStoredList(const uint8_t* data, size_t size) {
    StoredListDecoding result;
    ByteReader in(data, size);
    uint32_t raw = 0;
    if (!in.u32(raw)) {
        return result;
    }
    const auto count = static_cast<int32_t>(raw);
    // Rows are appended one by one as they are read: a corrupt count costs
    // nothing until the data runs out.
    for (int32_t i = 0; i < count; ++i) {
        StoredRow row;
        for (std::string& text : row) {
            if (!readArchiveString(in, text)) {
                return result;
            }
        }
        result.rows.push_back(std::move(row));
    }
    result.complete = true;
    return result;
}
