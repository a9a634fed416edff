#include "playlist/StoredList.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes bytesOf(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) {
        out.insert(out.end(), p.begin(), p.end());
    }
    return out;
}

Bytes archiveString(std::string_view text) {
    Bytes out;
    appendArchiveString(out, text);
    return out;
}

StoredRow row(std::string a, std::string b, std::string c, std::string d, std::string e) {
    return {std::move(a), std::move(b), std::move(c), std::move(d), std::move(e)};
}

TEST(StoredList, ArchiveStringPrefixesFollowTheLengthBands) {
    EXPECT_EQ(archiveString(""), Bytes({0x00}));
    EXPECT_EQ(archiveString("abc"), concat({{0x03}, bytesOf("abc")}));

    const std::string at254(254, 'x');
    EXPECT_EQ(archiveString(at254), concat({{0xFE}, bytesOf(at254)}));

    const std::string at255(255, 'y');
    EXPECT_EQ(archiveString(at255), concat({{0xFF, 0xFF, 0x00}, bytesOf(at255)}));

    const std::string at300(300, 'z');
    EXPECT_EQ(archiveString(at300), concat({{0xFF, 0x2C, 0x01}, bytesOf(at300)}));

    const Bytes at0xFFFD = archiveString(std::string(0xFFFD, 'w'));
    EXPECT_EQ(Bytes(at0xFFFD.begin(), at0xFFFD.begin() + 3), Bytes({0xFF, 0xFD, 0xFF}));

    // From 0xFFFE on: 0xFF, 0xFFFF and a 32-bit length.
    const std::string at0xFFFE(0xFFFE, 'v');
    const Bytes encoded = archiveString(at0xFFFE);
    ASSERT_EQ(encoded.size(), 7u + 0xFFFE);
    EXPECT_EQ(Bytes(encoded.begin(), encoded.begin() + 7),
              Bytes({0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0x00, 0x00}));
}

TEST(StoredList, ThreeRowsAreTheCountThenFifteenArchiveStrings) {
    const std::vector<StoredRow> rows = {
        row("", "a.wav", "01:05", "11 KB", "/music/a.wav"),
        row("", "Track-00", "03:10", "32802 KB", "CDROM"),
        row("", "", "", "", ""),
    };
    const Bytes expected = concat({
        {0x03, 0x00, 0x00, 0x00},
        {0x00},
        {0x05},
        bytesOf("a.wav"),
        {0x05},
        bytesOf("01:05"),
        {0x05},
        bytesOf("11 KB"),
        {0x0C},
        bytesOf("/music/a.wav"),
        {0x00},
        {0x08},
        bytesOf("Track-00"),
        {0x05},
        bytesOf("03:10"),
        {0x08},
        bytesOf("32802 KB"),
        {0x05},
        bytesOf("CDROM"),
        {0x00},
        {0x00},
        {0x00},
        {0x00},
        {0x00},
    });
    EXPECT_EQ(encodeStoredList(rows), expected);

    const StoredListDecoding decoded = decodeStoredList(expected);
    EXPECT_TRUE(decoded.complete);
    EXPECT_EQ(decoded.rows, rows);
}

TEST(StoredList, RoundTripsEveryLengthBand) {
    const std::vector<StoredRow> rows = {
        row("", std::string(254, 'a'), std::string(255, 'b'), std::string(0xFFFD, 'c'),
            std::string(0x10005, 'd')),
        row("x", "caf\xC3\xA9.mp3", std::string("nul\0byte", 8), "", "/p"),
    };
    const StoredListDecoding decoded = decodeStoredList(encodeStoredList(rows));
    EXPECT_TRUE(decoded.complete);
    EXPECT_EQ(decoded.rows, rows);
}

TEST(StoredList, CountOfZeroOrBelowIsAnEmptyCompleteList) {
    for (const Bytes& data :
         {Bytes{0, 0, 0, 0}, Bytes{0xFF, 0xFF, 0xFF, 0xFF}, Bytes{0, 0, 0, 0x80}}) {
        const StoredListDecoding decoded = decodeStoredList(data);
        EXPECT_TRUE(decoded.complete);
        EXPECT_TRUE(decoded.rows.empty());
    }
    EXPECT_EQ(encodeStoredList({}), Bytes({0, 0, 0, 0}));
}

TEST(StoredList, TruncatedDataKeepsTheRowsReadInFull) {
    const std::vector<StoredRow> rows = {row("", "one", "00:01", "1 KB", "/1"),
                                         row("", "two", "00:02", "2 KB", "/2")};
    const Bytes full = encodeStoredList(rows);
    const size_t firstRowEnd = 4 + 1 + 4 + 6 + 5 + 3;

    // Every cut inside the second row keeps exactly the first row.
    for (size_t cut = firstRowEnd; cut < full.size(); ++cut) {
        const StoredListDecoding decoded = decodeStoredList(full.data(), cut);
        EXPECT_FALSE(decoded.complete) << cut;
        ASSERT_EQ(decoded.rows.size(), 1u) << cut;
        EXPECT_EQ(decoded.rows[0], rows[0]);
    }
    // A cut inside the first row, or inside the count, keeps nothing.
    for (size_t cut = 0; cut < firstRowEnd; ++cut) {
        const StoredListDecoding decoded = decodeStoredList(full.data(), cut);
        EXPECT_FALSE(decoded.complete) << cut;
        EXPECT_TRUE(decoded.rows.empty()) << cut;
    }
}

TEST(StoredList, HugeCountsAndLengthsAreRefusedWithoutAllocating) {
    // A count of two billion rows with one row of data behind it.
    Bytes data = {0xFF, 0xFF, 0xFF, 0x7F};
    for (int i = 0; i < 5; ++i) {
        data.push_back(0);
    }
    StoredListDecoding decoded = decodeStoredList(data);
    EXPECT_FALSE(decoded.complete);
    EXPECT_EQ(decoded.rows.size(), 1u);

    // A 32-bit length of 4 GB - 2 with three bytes behind it.
    data = {1, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 'a', 'b', 'c'};
    decoded = decodeStoredList(data);
    EXPECT_FALSE(decoded.complete);
    EXPECT_TRUE(decoded.rows.empty());

    // The 0xFFFFFFFF length (a 64-bit length would follow) is malformed here.
    data = {1, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_FALSE(decodeStoredList(data).complete);
}

TEST(StoredList, WideStringsAreConvertedToUtf8) {
    // 0xFF 0xFFFE marks 16-bit characters; the real prefix follows.
    Bytes data = {1, 0, 0, 0};
    const Bytes wide = {0xFF, 0xFE, 0xFF, 0x04, 'A', 0, 0xE9, 0x00, 0x3D, 0xD8, 0x00, 0xDE};
    data.insert(data.end(), wide.begin(), wide.end());
    for (int i = 0; i < 4; ++i) {
        data.push_back(0);
    }
    const StoredListDecoding decoded = decodeStoredList(data);
    ASSERT_TRUE(decoded.complete);
    ASSERT_EQ(decoded.rows.size(), 1u);
    EXPECT_EQ(decoded.rows[0][0], "A\xC3\xA9\xF0\x9F\x98\x80"); // A, e-acute, U+1F600

    // An unpaired surrogate becomes U+FFFD.
    data = {1, 0, 0, 0, 0xFF, 0xFE, 0xFF, 0x01, 0x00, 0xDC};
    for (int i = 0; i < 4; ++i) {
        data.push_back(0);
    }
    const StoredListDecoding lone = decodeStoredList(data);
    ASSERT_TRUE(lone.complete);
    EXPECT_EQ(lone.rows[0][0], "\xEF\xBF\xBD");
}

TEST(StoredList, MalformedWideStringsFailSafely) {
    // Two wide markers in a row.
    Bytes data = {1, 0, 0, 0, 0xFF, 0xFE, 0xFF, 0xFF, 0xFE, 0xFF, 0x00};
    EXPECT_FALSE(decodeStoredList(data).complete);
    // A wide length whose bytes (twice the characters) run past the end.
    data = {1, 0, 0, 0, 0xFF, 0xFE, 0xFF, 0x03, 'a', 0, 'b', 0, 'c'};
    EXPECT_FALSE(decodeStoredList(data).complete);
    // Marker at the very end.
    data = {1, 0, 0, 0, 0xFF, 0xFE};
    EXPECT_FALSE(decodeStoredList(data).complete);
}

} // namespace
