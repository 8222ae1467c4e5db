// What the grid must show, written out apart from the program: the byte labels of each display
// mode and the text Save writes, the colours the grid is drawn in, and the pixels of a picture.
// Test rows are named by display mode.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QRect>
#include <QRgb>
#include <QSet>
#include <QString>
#include <QTest>

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
// saved text. In ASCII mode a byte above 127 reads as a single Shift_JIS byte: A1 to DF are the
// half-width katakana U+FF61 to U+FF9F, any other is no character (U+FFFD).
inline QString label(int b, DispMode mode) {
    QString text;
    switch (mode) {
        case DispMode::hex:
            return QString::asprintf("%02X", b);
        case DispMode::dec:
            return QString::asprintf("%03d", b);
        case DispMode::bin:
            for (int bit = 7; bit >= 0; --bit) {
                text += QLatin1Char((b >> bit) & 1 ? '1' : '0');
            }
            return text;
        case DispMode::ascii:
            break;
    }
    if (b < 128) {
        return QString::fromStdString(testutil::asciilabel(b));
    }
    return QChar(b >= 0xA1 && b <= 0xDF ? char16_t(0xFF61 + (b - 0xA1)) : char16_t(0xFFFD));
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

// The colours the grid is drawn in, by the names the README gives them.
constexpr QRgb kWhite = qRgb(255, 255, 255);
constexpr QRgb kLime = qRgb(0, 255, 0);
constexpr QRgb kGrey = qRgb(128, 128, 128);
constexpr QRgb kBlack = qRgb(0, 0, 0);
constexpr QRgb kBlue = qRgb(0, 0, 255);
constexpr QRgb kRed = qRgb(255, 0, 0);

// Any colour but the white ground.
inline bool isink(QRgb colour) {
    return colour != kWhite;
}

// The colour of byte b's label: a line break lime, any other control code grey, a 7-bit
// character black (127 too), an 8-bit byte blue.
inline QRgb inkof(int b) {
    return b == 10 || b == 13 ? kLime : b < 32 ? kGrey : b < 128 ? kBlack : kBlue;
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
