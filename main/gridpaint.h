// Painting the byte grid: what each cell shows, in which colour, and the painter that draws the
// visible cells of a document onto a fresh picture. The picture depends on the arguments alone:
// the painter keeps only a cache of rendered labels, so the window, the tests and the benchmark
// drive it alike.
#pragma once

#include <QColor>
#include <QFont>
#include <QImage>
#include <QString>

#include <array>
#include <cstdint>
#include <span>

namespace tessarin {

enum class DispMode { ascii, hex, bin, dec };

// The label of byte b in a display mode as it is drawn. The byte texts are raw bytes; in ASCII
// mode bytes 128 to 255 are read as the Shift_JIS character set reads a single byte: A1 to DF are
// the half-width katakana U+FF61 to U+FF9F, and a byte that is no character on its own is U+FFFD.
QString celltext(std::uint8_t b, DispMode mode);

// The colour of a byte's class: line break lime, other control code grey, 7-bit character black
// (127 included), 8-bit byte blue.
QColor classcolor(std::uint8_t b);

inline const QColor kEofColor{255, 0, 0};
inline const QString kEofText = QStringLiteral("[EOF]");

// The geometry of one redraw.
struct GridView {
    std::int64_t topaddr;
    std::int32_t cols;
    std::int32_t cellw;
    std::int32_t cellh;
};

// Draws cells onto a picture. Every label shown is drawn once per font, mode and pixel ratio into a
// small image of its own, on an opaque white box the size of the text, and each cell then copies
// its label's image: the same pixels as drawing the text there, at a fraction of the cost.
class GridPainter {
public:
    // A fresh white picture of `width` x `height` logical pixels at the given pixel ratio; a null
    // picture when either side is 0.
    static QImage freshpicture(int width, int height, qreal ratio);

    // Paints the visible cells of `document` onto `picture` (which must be fresh and white): the
    // whole rows from view.topaddr on, each label at its cell's top-left in ascending order so
    // that a label running into the next cell is covered by that cell's label, the red "[EOF]"
    // after the last byte, nothing past it.
    void paint(QImage& picture, const QFont& font, DispMode mode,
               std::span<const std::uint8_t> document, const GridView& view);

private:
    void prepare(const QFont& font, DispMode mode, qreal ratio);
    // The image of byte b's label, drawn on first use with the prepared font, mode and ratio.
    const QImage& label(std::uint8_t b);

    QFont font_;
    DispMode mode_ = DispMode::ascii;
    qreal ratio_ = 0;  // 0: nothing prepared yet
    std::array<QImage, 256> labels_;
    QImage eof_;
};

}  // namespace tessarin
