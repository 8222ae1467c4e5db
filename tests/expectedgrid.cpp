// What the grid must show (expectedgrid.h), written out apart from the program.
#include "tests/expectedgrid.h"

#include <QColor>

#ifdef _WIN32
#include <windows.h>
#else
#include <iconv.h>
#endif

#include <cctype>

namespace windowtest {

const QRgb kWhite = QColor(u"white").rgb();
const QRgb kLime = QColor(u"lime").rgb();
const QRgb kGrey = QColor(u"grey").rgb();
const QRgb kBlack = QColor(u"black").rgb();
const QRgb kBlue = QColor(u"blue").rgb();
const QRgb kRed = QColor(u"red").rgb();

QByteArray asbytearray(const std::vector<std::uint8_t>& bytes) {
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size()));
}

const char* modename(int mode) {
    static const char* const names[] = {"ascii", "hex", "bin", "dec"};
    return names[mode];
}

QTestData& moderow(int mode, const char* more) {
    return QTest::addRow("%s%s", modename(mode), more) << mode;
}

void addmoderows() {
    QTest::addColumn<int>("mode");
    for (int mode = 0; mode < 4; ++mode) {
        moderow(mode);
    }
}

void addflagrows(const char* column, const char* no, const char* yes) {
    QTest::addColumn<bool>(column);
    QTest::newRow(no) << false;
    QTest::newRow(yes) << true;
}

QString label(int b, DispMode mode) {
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
    wchar_t out[2] = {};
    const bool one = MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, in, 1, out, 2) == 1 &&
                     QChar(out[0]).isPrint();
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

QByteArray savedtext(const std::vector<std::uint8_t>& bytes, DispMode mode) {
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

bool isink(QRgb colour) {
    return colour != kWhite;
}

QRgb inkof(int b) {
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
static void eachpixel(const QImage& picture, QRect area,
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

QSet<QRgb> coloursin(const QImage& picture, const QRect& area) {
    QSet<QRgb> colours;
    eachpixel(picture, area, [&colours](QPoint, QRgb colour) { colours.insert(colour); });
    return colours;
}

QRect inkbox(const QImage& picture, const QRect& area, const std::function<bool(QRgb)>& match) {
    QRect box;
    eachpixel(picture, area, [&](QPoint p, QRgb colour) {
        if (match(colour)) {
            box |= QRect(p, QSize(1, 1));
        }
    });
    return box;
}

QRect inkbox(const QImage& picture, const QRect& area, QRgb colour) {
    return inkbox(picture, area, [colour](QRgb p) { return p == colour; });
}

}  // namespace windowtest
