#pragma once
// The byte layout of the stored play list, without any widget: a 32-bit
// little-endian row count, then five archive strings per row (columns 0 to 4,
// rows in order).
//
// An archive string is a length prefix followed by the characters without a
// terminator. The prefix is one byte when the length is below 255; otherwise
// 0xFF and a 16-bit little-endian length when it is below 0xFFFE; otherwise
// 0xFF, 0xFFFF and a 32-bit little-endian length. On reading, 0xFF followed by
// 0xFFFE marks a string of 16-bit characters whose own length prefix follows;
// such a string is converted to UTF-8 (Velumo never writes one).
//
// Texts are byte strings; the list view keeps them as UTF-8.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

inline constexpr int kStoredColumns = 5;
using StoredRow = std::array<std::string, kStoredColumns>;

// Appends one archive string to out.
void appendArchiveString(std::vector<uint8_t>& out, std::string_view text);

// The stored-list bytes of rows.
std::vector<uint8_t> encodeStoredList(const std::vector<StoredRow>& rows);

struct StoredListDecoding {
    std::vector<StoredRow> rows; // every row read in full, in order
    bool complete = false;       // false when the data ended early or was malformed
};

// Reads a stored list. A count of zero or below is a complete, empty list.
// When the data is truncated or malformed, the rows read in full before the
// fault are returned with complete = false; a partly read row is dropped.
// Nothing is allocated for a string whose length runs past the end of the
// data, and the row count never sizes an allocation.
StoredListDecoding decodeStoredList(const uint8_t* data, size_t size);
inline StoredListDecoding decodeStoredList(const std::vector<uint8_t>& bytes) {
    return decodeStoredList(bytes.data(), bytes.size());
}
