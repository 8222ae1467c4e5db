// Grid geometry and the view rules, checked against worked examples.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>

#include "textout/textout.h"

using textout::Point;

namespace {

TEST(CellPos, TwoColumnExamples) {
    struct Case {
        std::int32_t r, x, y;
    };
    for (Case c : {Case{0, 0, 0}, {1, 50, 0}, {2, 0, 20}, {5, 50, 40}, {7, 50, 60}}) {
        SCOPED_TRACE(c.r);
        Point p = textout::cellpos(c.r, 2, 50, 20);
        EXPECT_EQ(p.x, c.x);
        EXPECT_EQ(p.y, c.y);
    }
}

TEST(CellAt, TwoColumnExamples) {
    struct Case {
        std::int32_t x, y, expected;
    };
    const Case cases[] = {
        {0, 0, 0},
        {49, 19, 0},
        {50, 0, 1},
        {99, 0, 1},
        {100, 0, -1},
        {101, 0, -1},
        {0, 20, 2},
        {75, 45, 5},
        {-1, 0, -1},
        {0, -1, -1},
        {0, 1310739, 131072},
        {0, 1310740, -1},
        {99, 1310739, 131073},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "(" << c.x << ", " << c.y << ")");
        EXPECT_EQ(textout::cellat({c.x, c.y}, 2, 50, 20), c.expected);
    }
}

// cellat must agree with the row-by-row search of every cell's half-open box that it replaces.
TEST(CellAt, AgreesWithCellSearch) {
    for (std::int32_t columns : {1, 2, 3, 7}) {
        for (std::int32_t y = -2; y < 130; y += 3) {
            for (std::int32_t x = -2; x < columns * 50 + 30; x += 7) {
                std::int32_t found = -1;
                for (std::int32_t i = 0; i < 10 && found < 0; ++i) {
                    for (std::int32_t j = 0; j < columns; ++j) {
                        if (j * 50 <= x && x < (j + 1) * 50 && i * 20 <= y && y < (i + 1) * 20) {
                            found = i * columns + j;
                            break;
                        }
                    }
                }
                SCOPED_TRACE(testing::Message()
                             << columns << " columns at (" << x << ", " << y << ")");
                EXPECT_EQ(textout::cellat({x, y}, columns, 50, 20), found);
            }
        }
    }
}

TEST(CellAt, RoundTripsCellPos) {
    for (std::int32_t columns : {1, 2, 8, 37}) {
        for (std::int32_t r = 0; r < 500; ++r) {
            Point p = textout::cellpos(r, columns, 50, 20);
            EXPECT_EQ(textout::cellat(p, columns, 50, 20), r);
            EXPECT_EQ(textout::cellat({p.x + 49, p.y + 19}, columns, 50, 20), r);
        }
    }
}

TEST(CellAt, NoGridWithoutColumns) {
    EXPECT_EQ(textout::cellat({0, 0}, 0, 50, 20), -1);
    EXPECT_EQ(textout::cellpos(5, 0, 50, 20).x, 0);
}

TEST(ColumnRule, Widths) {
    struct Case {
        std::int32_t width, cols;
    };
    for (Case c :
         {Case{165, 2}, {169, 2}, {170, 3}, {70, 1}, {69, 0}, {0, 0}, {10, 0}, {1940, 38}}) {
        SCOPED_TRACE(c.width);
        EXPECT_EQ(textout::columnsfor(c.width, 50), c.cols);
    }
}

TEST(ScrollRangeRule, Examples) {
    struct Case {
        std::int32_t length, cols, maximum;
    };
    for (Case c : {Case{7, 2, 3},
                   {8, 2, 4},
                   {0, 2, 0},
                   {100, 3, 33},
                   {100, 2, 50},
                   {INT32_MAX, 1, INT32_MAX},
                   {INT32_MAX, 2, 1073741823}}) {
        SCOPED_TRACE(testing::Message() << c.length << " bytes, " << c.cols << " columns");
        textout::ScrollRange range = textout::scrollrange(c.length, c.cols);
        EXPECT_EQ(range.maximum, c.maximum);
        EXPECT_EQ(range.pagestep, c.cols);
        EXPECT_EQ(range.linestep, 1);
    }
    EXPECT_EQ(textout::scrollrange(100, 0).maximum, 0);
}

TEST(ScrollRule, TopAddress) {
    EXPECT_EQ(textout::topaddrfor(3, 2), 6);
    EXPECT_EQ(textout::topaddrfor(4, 2), 8);
    EXPECT_EQ(textout::topaddrfor(33, 3), 99);
    EXPECT_EQ(textout::topaddrfor(6, 3), 18);
    EXPECT_EQ(textout::topaddrfor(1073741823, 2), 2147483646);
    EXPECT_EQ(textout::topaddrfor(INT32_MAX, 1), INT32_MAX);
    // The product is a 32-bit one: past the range it wraps as the machine's does.
    EXPECT_EQ(textout::topaddrfor(1073741824, 2), std::int64_t{INT32_MIN});
}

TEST(VisibleCount, WholeRowsOnly) {
    EXPECT_EQ(textout::visiblecount(244, 20, 2), 24);
    EXPECT_EQ(textout::visiblecount(19, 20, 2), 0);
    EXPECT_EQ(textout::visiblecount(20, 20, 2), 2);
    EXPECT_EQ(textout::visiblecount(1080, 20, 0), 0);
}

TEST(VisibleCells, WhatTheCellsHold) {
    struct Case {
        std::int64_t topaddr;
        std::int32_t count, length, bytes, eofcell;
    };
    const Case cases[] = {
        {0, 24, 0, 0, 0},      // empty document: the end marker alone
        {0, 24, 24, 24, -1},   // exactly full: no end marker
        {2, 24, 24, 22, 22},   // one row down: the marker in the last row
        {6, 24, 7, 1, 1},      // the last row of a 7-byte document
        {8, 24, 8, 0, 0},      // top-left is the end marker
        {9, 24, 8, 0, -1},     // past the end: nothing at all
        {0, 0, 100, 0, -1},    // no visible row
        {-2, 24, 100, 0, -1},  // before the start: nothing
        {INT32_MAX - 10, 1800, INT32_MAX, 10, 10},
        {INT32_MAX, 1800, INT32_MAX, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "topaddr " << c.topaddr << ", length " << c.length);
        textout::VisibleCells v = textout::visiblecells(c.topaddr, c.count, c.length);
        EXPECT_EQ(v.bytes, c.bytes);
        EXPECT_EQ(v.eofcell, c.eofcell);
    }
}

}  // namespace
