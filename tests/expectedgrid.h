// What the grid must show, written out apart from the program: the byte labels of each display
// mode (binio's byte texts, and Shift_JIS above 127 in ASCII mode) and the text Save writes, the
// cells and the colours the grid is drawn in, and the pixels of a picture.
// Test rows are named by display mode.
#pragma once

#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QRect>
#include <QRgb>
#include <QSet>
#include <QSize>
#include <QString>
#include <QTest>

#ifdef _WIN32
// The system's decoding of a code page, declared here: windows.h would bring macros that clash
// with the tests' names (near, far, small).
extern "C" __declspec(dllimport) int __stdcall MultiByteToWideChar(unsigned int codepage,
                                                                   unsigned long flags,
                                                                   const char* bytes, int size,
                                                                   wchar_t* wide, int widesize);
#else
#include <iconv.h>
#endif

#include <cctype>
#include <cstdint>
#include <functional>
#include <vector>

#include "main/gridpaint.h"
#include "tests/testutil.h"

namespace windowtest {

using tessarin::DispMode;

inline QByteArray asbytearray(const std::vector<std::uint8_t>& bytes) {
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size()));
}

// The name of display mode `mode` in the names of test rows (0 ASCII, 1 hex, 2 binary, 3 decimal,
// as DispMode counts).
inline const char* modename(int mode) {
    static const char* const names[] = {"ascii", "hex", "bin", "dec"};
    return names[mode];
}

// A new test row named by display mode `mode` and `more`, with the mode as its first value.
inline QTestData& moderow(int mode, const char* more = "") {
    return QTest::addRow("%s%s", modename(mode), more) << mode;
}

// One test row for each display mode, in the column "mode".
inline void addmoderows() {
    QTest::addColumn<int>("mode");
    for (int mode = 0; mode < 4; ++mode) {
        moderow(mode);
    }
}

// What byte b is called in a mode: in the grid, in the byte editor and, but for ASCII mode, in a
// saved text. Below 128 in ASCII mode, and in the other modes, it is binio's text, which
// bytetext_test checks for every byte; here only which text each mode takes is stated. In ASCII
// mode a byte above 127 reads as a single Shift_JIS byte, as iconv decodes it on its own (the
// half-width katakana from A1 to DF); a byte that is no character on its own reads U+FFFD. On
// Windows the system decodes it, as code page 932, Microsoft's Shift_JIS, which gives a byte or
// two a control or private-use code of their own: no character either.
inline QString label(int b, DispMode mode) {
    switch (mode) {
        case DispMode::hex:
            return QString::fromStdString(binio::bytetohex(std::uint8_t(b)));
        case DispMode::dec:
            return QString::fromStdString(binio::bytetodec(b));
        case DispMode::bin:
            return QString::fromStdString(binio::bytetobin(std::uint8_t(b)));
        case DispMode::ascii:
            break;
    }
    if (b < 128) {
        return QString::fromStdString(binio::bytetoascii(std::uint8_t(b)));
    }
    char in[] = {char(b)};
#ifdef _WIN32
    constexpr unsigned long kInvalidCharsFail = 8;  // MB_ERR_INVALID_CHARS
    wchar_t out[2] = {};
    const bool one =
        MultiByteToWideChar(932, kInvalidCharsFail, in, 1, out, 2) == 1 && QChar(out[0]).isPrint();
#else
    static const iconv_t shiftjis = iconv_open("UTF-16LE", "SHIFT_JIS");
    char16_t out[2] = {};
    char* from = in;
    auto* to = reinterpret_cast<char*>(out);
    std::size_t inleft = 1, outleft = sizeof out;
    iconv(shiftjis, nullptr, nullptr, nullptr, nullptr);
    const bool one = iconv(shiftjis, &from, &inleft, &to, &outleft) == 0 && outleft == 2;
#endif
    return QChar(one ? char16_t(out[0]) : char16_t(0xFFFD));
}

// The file Save writes for `bytes` in `mode`: the bytes themselves in ASCII mode, else their
// labels one after another.
inline QByteArray savedtext(const std::vector<std::uint8_t>& bytes, DispMode mode) {
    if (mode == DispMode::ascii) {
        return asbytearray(bytes);
    }
    QByteArray labels[256];
    for (int b = 0; b < 256; ++b) {
        labels[b] = label(b, mode).toLatin1();
    }
    QByteArray text;
    text.reserve(qsizetype(bytes.size()) * labels[0].size());
    for (const std::uint8_t b : bytes) {
        text += labels[b];
    }
    return text;
}

// The colours the grid is drawn in, by the names the README gives them (SVG's colour names).
inline const QRgb kWhite = QColor(u"white").rgb();
inline const QRgb kLime = QColor(u"lime").rgb();
inline const QRgb kGrey = QColor(u"grey").rgb();
inline const QRgb kBlack = QColor(u"black").rgb();
inline const QRgb kBlue = QColor(u"blue").rgb();
inline const QRgb kRed = QColor(u"red").rgb();

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
inline QRect cellrect(int r, int cols) {
    return {r % cols * kCellW, r / cols * kCellH, kCellW, kCellH};
}

// Any colour but the white ground.
inline bool isink(QRgb colour) {
    return colour != kWhite;
}

// The colour of byte b's label: a line break lime, any other control code grey, a 7-bit
// character black (DEL too), an 8-bit byte blue; the classes are the C library's.
inline QRgb inkof(int b) {
    if (b == '\n' || b == '\r') {
        return kLime;
    }
    if (b > 0x7F) {
        return kBlue;
    }
    return std::iscntrl(b) && b != 0x7F ? kGrey : kBlack;
}

// Calls `visit` with each device pixel of the logical rectangle `area` of `picture` (clipped to
// it; the whole picture when `area` is null) and its colour, made opaque.
inline void eachpixel(const QImage& picture, QRect area,
                      const std::function<void(QPoint, QRgb)>& visit) {
    const qreal ratio = picture.devicePixelRatio();
    if (area.isNull()) {
        area = QRect(QPoint(0, 0), picture.deviceIndependentSize().toSize());
    }
    const QRect device =
        QRect(QPoint(int(area.left() * ratio), int(area.top() * ratio)),
              QPoint(int((area.right() + 1) * ratio) - 1, int((area.bottom() + 1) * ratio) - 1))
            .intersected(picture.rect());
    for (int y = device.top(); y <= device.bottom(); ++y) {
        for (int x = device.left(); x <= device.right(); ++x) {
            visit({x, y}, picture.pixel(x, y) | 0xFF000000u);
        }
    }
}

// The colours in `area` (see eachpixel).
inline QSet<QRgb> coloursin(const QImage& picture, const QRect& area = {}) {
    QSet<QRgb> colours;
    eachpixel(picture, area, [&colours](QPoint, QRgb colour) { colours.insert(colour); });
    return colours;
}

// The smallest rectangle of device pixels that holds every pixel of `area` (see eachpixel)
// whose colour satisfies `match`; empty when there is none.
inline QRect inkbox(const QImage& picture, const QRect& area,
                    const std::function<bool(QRgb)>& match) {
    QRect box;
    eachpixel(picture, area, [&](QPoint p, QRgb colour) {
        if (match(colour)) {
            box |= QRect(p, QSize(1, 1));
        }
    });
    return box;
}

inline QRect inkbox(const QImage& picture, const QRect& area, QRgb colour) {
    return inkbox(picture, area, [colour](QRgb p) { return p == colour; });
}

}  // namespace windowtest
