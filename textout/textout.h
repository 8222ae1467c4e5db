// Grid geometry: where a cell lies, which cell lies under a point, and the rules that tie the
// column count, the scroll range and the first visible offset to the window and the document.
// Plain functions of their arguments; the window holds the state.
#pragma once

#include <cstdint>

namespace textout {

struct Point {
    std::int32_t x;
    std::int32_t y;
};

// The top-left pixel of the cell at relative index r (r >= 0). With columns < 1 there is no grid
// and the result is (0, 0).
Point cellpos(std::int32_t r, std::int32_t columns, std::int32_t w, std::int32_t h);

// Rows that cellat() searches below the top of the grid; a point lower than that is in no cell.
constexpr std::int32_t kHitRows = 65537;

// The relative index of the cell whose box contains p, or -1 ("no cell") when x < 0,
// x >= columns * w, y < 0 or y >= kHitRows * h. Boxes are half-open: a point on a border belongs
// to the cell right of it or below it. y is not limited to the visible rows.
std::int32_t cellat(Point p, std::int32_t columns, std::int32_t w, std::int32_t h);

// Pixels at the right edge of the grid that no column may use.
constexpr std::int32_t kRightMargin = 20;

// The column rule: cells per row for a grid `width` pixels wide. Below 70 pixels (with 50-pixel
// cells) this gives 0, which every rule below treats as "no grid".
std::int32_t columnsfor(std::int32_t width, std::int32_t cellw);

struct ScrollRange {
    std::int32_t maximum;   // one position per row; the last shows the row holding the last byte
    std::int32_t pagestep;  // cols rows, not the number of visible rows
    std::int32_t linestep;  // one row
};

// The scroll-range rule for a document of `length` bytes. With cols < 1 the range is empty
// (maximum 0) and the page step 1.
ScrollRange scrollrange(std::int32_t length, std::int32_t cols);

// The scroll rule: the offset shown in the top-left cell at scroll position `position`. The
// product is taken in 32-bit arithmetic, wrapping like the machine's, and widened with its sign.
std::int64_t topaddrfor(std::int32_t position, std::int32_t cols);

// Visible cells: rows of the grid that are wholly inside a picture `height` pixels high, times
// cols; 0 when either is below 1.
std::int32_t visiblecount(std::int32_t height, std::int32_t cellh, std::int32_t cols);

// What the visible cells of a document hold, counted from topaddr: cells 0 to bytes - 1 show the
// bytes topaddr to topaddr + bytes - 1, cell eofcell shows the end marker (-1 when it is not
// visible), and the cells after it stay blank. A topaddr before 0 or past the end shows no cell.
// Computed in 64 bits, so an offset never wraps.
struct VisibleCells {
    std::int32_t bytes;
    std::int32_t eofcell;
};
VisibleCells visiblecells(std::int64_t topaddr, std::int32_t count, std::int32_t length);

}  // namespace textout
