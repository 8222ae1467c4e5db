// What the grid must show, written out apart from the program: the byte labels of each display
// mode (binio's byte texts, and Shift_JIS above 127 in ASCII mode) and the text Save writes, the
// cells and the colours the grid is drawn in, and the pixels of a picture.
// Test rows are named by display mode.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QRect>
#include <QRgb>
#include <QSet>
#include <QSize>
#include <QString>
#include <QTest>

#include <cstdint>
#include <functional>
#include <vector>

#include "main/gridpaint.h"
#include "tests/testutil.h"

namespace windowtest {

using tessarin::DispMode;

QByteArray asbytearray(const std::vector<std::uint8_t>& bytes);

// The name of display mode `mode` in the names of test rows (0 ASCII, 1 hex, 2 binary, 3 decimal,
// as DispMode counts).
const char* modename(int mode);

// A new test row named by display mode `mode` and `more`, with the mode as its first value.
QTestData& moderow(int mode, const char* more = "");

// One test row for each display mode, in the column "mode".
void addmoderows();

// Two test rows of a flag in the column `column`: `no` with it false, then `yes` with it true.
void addflagrows(const char* column, const char* no, const char* yes);

// What byte b is called in a mode: in the grid, in the byte editor and, but for ASCII mode, in a
// saved text. Below 128 in ASCII mode, and in the other modes, it is binio's text, which
// bytetext_test checks for every byte; here only which text each mode takes is stated. In ASCII
// mode a byte above 127 reads as a single Shift_JIS byte, as iconv decodes it on its own (the
// half-width katakana from A1 to DF); a byte that is no character on its own reads U+FFFD. On
// Windows the system decodes it, as code page 932, Microsoft's Shift_JIS, which gives a byte or
// two a control or private-use code of their own: no character either.
QString label(int b, DispMode mode);

// The file Save writes for `bytes` in `mode`: the bytes themselves in ASCII mode, else their
// labels one after another.
QByteArray savedtext(const std::vector<std::uint8_t>& bytes, DispMode mode);

// The colours the grid is drawn in, by the names the README gives them (SVG's colour names).
extern const QRgb kWhite, kLime, kGrey, kBlack, kBlue, kRed;

// The cells are 50 x 20 logical pixels, row by row from the top left.
constexpr int kCellW = 50;
constexpr int kCellH = 20;

// The window's client area at its design size, which is also its least, and the grid's place in
// a client area of any size: 8 pixels in from the top left, 127 narrower and 29 lower than it.
constexpr QSize kDesignSize(292, 273);
constexpr QRect gridrect(QSize client) {
    return {QPoint(8, 8), client - QSize(127, 29)};
}

// The logical rectangle of cell `r` of a grid of `cols` columns.
constexpr QRect cellrect(int r, int cols) {
    return {r % cols * kCellW, r / cols * kCellH, kCellW, kCellH};
}

// Any colour but the white ground.
bool isink(QRgb colour);

// The colour of byte b's label: a line break lime, any other control code grey, a 7-bit
// character black (DEL too), an 8-bit byte blue; the classes are the C library's.
QRgb inkof(int b);

// The colours of the device pixels of the logical rectangle `area` of `picture` (clipped to it;
// the whole picture when `area` is null), made opaque.
QSet<QRgb> coloursin(const QImage& picture, const QRect& area = {});

// The smallest rectangle of device pixels that holds every pixel of `area` (as coloursin reads
// them) whose colour satisfies `match`, or is `colour`; empty when there is none.
QRect inkbox(const QImage& picture, const QRect& area, const std::function<bool(QRgb)>& match);
QRect inkbox(const QImage& picture, const QRect& area, QRgb colour);

}  // namespace windowtest
