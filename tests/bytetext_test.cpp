// The byte texts over all 256 values, checked against the label list, printf and a bit loop: the
// one place they are checked; the widget tests take binio's texts as given.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <limits>
#include <random>
#include <set>
#include <string>

#include "binio/binio.h"

namespace {

// What ASCII mode calls byte b: a control code by its abbreviation in the ASCII standard (but TAB
// for HT) in brackets, "space", or the byte itself.
std::string asciilabel(int b) {
    static const char* const names[] = {"NUL", "SOH", "STX", "ETX", "EOT", "ENQ", "ACK", "BEL",
                                        "BS",  "TAB", "LF",  "VT",  "FF",  "CR",  "SO",  "SI",
                                        "DLE", "DC1", "DC2", "DC3", "DC4", "NAK", "SYN", "ETB",
                                        "CAN", "EM",  "SUB", "ESC", "FS",  "GS",  "RS",  "US"};
    return b < 32     ? '[' + std::string(names[b]) + ']'
           : b == 32  ? "space"
           : b == 127 ? "[DEL]"
                      : std::string(1, char(b));
}

std::string printed(const char* format, long long value) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, format, value);
    return buffer;
}

TEST(ByteToAscii, AllValues) {
    std::set<std::string> seen;
    for (int b = 0; b < 256; ++b) {
        SCOPED_TRACE("byte " + std::to_string(b));
        const std::string label = binio::bytetoascii(static_cast<std::uint8_t>(b));
        EXPECT_EQ(label, asciilabel(b));
        seen.insert(label);
    }
    EXPECT_EQ(seen.size(), 256u);
}

TEST(ByteToHex, AllValuesMatchPrintf) {
    std::set<std::string> seen;
    for (int b = 0; b < 256; ++b) {
        SCOPED_TRACE("byte " + std::to_string(b));
        const std::string hex = binio::bytetohex(static_cast<std::uint8_t>(b));
        EXPECT_EQ(hex, printed("%02llX", b));
        seen.insert(hex);
    }
    EXPECT_EQ(seen.size(), 256u);
}

TEST(ByteToBin, AllValuesMatchBitLoop) {
    std::set<std::string> seen;
    for (int b = 0; b < 256; ++b) {
        SCOPED_TRACE("byte " + std::to_string(b));
        std::string expected;
        for (int bit = 7; bit >= 0; --bit) {
            expected += (b >> bit) & 1 ? '1' : '0';
        }
        const std::string bin = binio::bytetobin(static_cast<std::uint8_t>(b));
        EXPECT_EQ(bin, expected);
        seen.insert(bin);
    }
    EXPECT_EQ(seen.size(), 256u);
}

TEST(ByteToDec, AllBytesPaddedToThreeDigits) {
    std::set<std::string> seen;
    for (int b = 0; b < 256; ++b) {
        SCOPED_TRACE("byte " + std::to_string(b));
        const std::string dec = binio::bytetodec(b);
        EXPECT_EQ(dec, printed("%03lld", b));
        seen.insert(dec);
    }
    EXPECT_EQ(seen.size(), 256u);
}

TEST(ByteToDec, LongerValuesKeepAllDigits) {
    const struct {
        std::int32_t value;
        const char* text;
    } cases[] = {
        {7, "007"},       {42, "042"},
        {255, "255"},     {999, "999"},
        {1000, "1000"},   {1234, "1234"},
        {65535, "65535"}, {std::numeric_limits<std::int32_t>::max(), "2147483647"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        EXPECT_EQ(binio::bytetodec(c.value), c.text);
    }
}

TEST(AddrToHex, Examples) {
    const struct {
        std::int32_t offset;
        const char* text;
    } cases[] = {
        {0, "0"},
        {1, "1"},
        {15, "F"},
        {16, "10"},
        {26, "1A"},
        {255, "FF"},
        {256, "100"},
        {4096, "1000"},
        {std::numeric_limits<std::int32_t>::max(), "7FFFFFFF"},
        {-1, ""},
        {-16, ""},
        {-4096, ""},
        {std::numeric_limits<std::int32_t>::min(), ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.offset);
        EXPECT_EQ(binio::addrtohex(c.offset), c.text);
    }
}

TEST(AddrToHex, RandomOffsetsMatchPrintf) {
    const std::uint32_t seed = 20240611;
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    std::uniform_int_distribution<std::int32_t> any(std::numeric_limits<std::int32_t>::min(),
                                                    std::numeric_limits<std::int32_t>::max());
    for (int i = 0; i < 2000; ++i) {
        // Shifting by a random amount covers every magnitude, not just the large ones.
        const std::int32_t offset = any(rng) >> (rng() % 32);
        SCOPED_TRACE(offset);
        EXPECT_EQ(binio::addrtohex(offset), offset < 0 ? "" : printed("%llX", offset));
    }
}

}  // namespace
