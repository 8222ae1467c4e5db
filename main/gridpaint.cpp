// Cell labels, byte colours and the grid painter.
#include "main/gridpaint.h"

#include <QFontMetricsF>
#include <QPainter>

#include <cmath>
#include <string>

#include "binio/binio.h"
#include "textout/textout.h"

namespace tessarin {

namespace {

constexpr char16_t kReplacement = 0xFFFD;

QString shiftjisbyte(std::uint8_t b) {
    if (b >= 0xA1 && b <= 0xDF) {
        return QString(QChar(char16_t(0xFF61 + (b - 0xA1))));
    }
    return QString(QChar(kReplacement));
}

// A label drawn the way the grid draws text: on an opaque white box exactly as large as the text,
// with the text's top-left at the image's top-left. Ink that overhangs the box (italic slants, wide
// glyphs) is kept, on a transparent background.
QImage labelimage(const QString& text, const QColor& colour, const QFont& font, qreal ratio) {
    QFontMetricsF metrics(font);
    const qreal advance = metrics.horizontalAdvance(text);
    const QRectF ink = metrics.boundingRect(text);
    const qreal width = std::max(advance, ink.right());
    const qreal height = std::max(metrics.height(), metrics.ascent() + ink.bottom());
    QImage image(std::max(1, int(std::ceil(width * ratio)) + 1),
                 std::max(1, int(std::ceil(height * ratio)) + 1),
                 QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.fillRect(QRectF(0, 0, advance, metrics.height()), Qt::white);
    painter.setFont(font);
    painter.setPen(colour);
    painter.drawText(QPointF(0, metrics.ascent()), text);
    return image;
}

}  // namespace

QString celltext(std::uint8_t b, DispMode mode) {
    switch (mode) {
        case DispMode::ascii:
            return b < 128 ? QString::fromLatin1(binio::bytetoascii(b)) : shiftjisbyte(b);
        case DispMode::hex:
            return QString::fromLatin1(binio::bytetohex(b));
        case DispMode::bin:
            return QString::fromLatin1(binio::bytetobin(b));
        case DispMode::dec:
            break;
    }
    return QString::fromLatin1(binio::bytetodec(b));
}

QColor classcolor(std::uint8_t b) {
    if (b == 10 || b == 13) {
        return {0, 255, 0};
    }
    if (b < 32) {
        return {128, 128, 128};
    }
    if (b < 128) {
        return {0, 0, 0};
    }
    return {0, 0, 255};
}

QImage GridPainter::freshpicture(int width, int height, qreal ratio) {
    if (width <= 0 || height <= 0) {
        return {};
    }
    QImage picture(int(std::ceil(width * ratio)), int(std::ceil(height * ratio)),
                   QImage::Format_RGB32);
    picture.setDevicePixelRatio(ratio);
    picture.fill(Qt::white);
    return picture;
}

void GridPainter::prepare(const QFont& font, DispMode mode, qreal ratio) {
    if (ratio == ratio_ && mode == mode_ && font == font_ && font.key() == font_.key()) {
        return;
    }
    // Labels are drawn when first shown: a start-up grid shows none, a text file few of them.
    labels_.fill(QImage());
    eof_ = labelimage(kEofText, kEofColor, font, ratio);
    font_ = font;
    mode_ = mode;
    ratio_ = ratio;
}

const QImage& GridPainter::label(std::uint8_t b) {
    QImage& image = labels_[b];
    if (image.isNull()) {
        image = labelimage(celltext(b, mode_), classcolor(b), font_, ratio_);
    }
    return image;
}

void GridPainter::paint(QImage& picture, const QFont& font, DispMode mode,
                        std::span<const std::uint8_t> document, const GridView& view) {
    if (picture.isNull()) {
        return;
    }
    const int height = int(picture.height() / picture.devicePixelRatio());
    const std::int32_t count = textout::visiblecount(height, view.cellh, view.cols);
    const auto length = static_cast<std::int32_t>(document.size());
    const textout::VisibleCells cells = textout::visiblecells(view.topaddr, count, length);
    if (cells.bytes == 0 && cells.eofcell < 0) {
        return;
    }
    prepare(font, mode, picture.devicePixelRatio());
    QPainter painter(&picture);
    const std::uint8_t* first = document.data() + view.topaddr;
    for (std::int32_t r = 0; r < cells.bytes; ++r) {
        const textout::Point at = textout::cellpos(r, view.cols, view.cellw, view.cellh);
        painter.drawImage(QPointF(at.x, at.y), label(first[r]));
    }
    if (cells.eofcell >= 0) {
        const textout::Point at =
            textout::cellpos(cells.eofcell, view.cols, view.cellw, view.cellh);
        painter.drawImage(QPointF(at.x, at.y), eof_);
    }
}

}  // namespace tessarin
