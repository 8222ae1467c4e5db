// The grid painter without a window: the cell labels and colours, and the pixels it paints,
// read back from the picture. Painting uses a font without antialiasing, so that every pixel is
// either white or exactly the colour of the label it belongs to.
#include <QFile>
#include <QFont>
#include <QFontMetricsF>
#include <QImage>
#include <QSet>
#include <QString>
#include <QTemporaryDir>
#include <QTest>

#include <cstdint>
#include <span>
#include <vector>

#include "main/gridfont.h"
#include "main/gridpaint.h"
#include "tests/expectedgrid.h"

using tessarin::DispMode;
using tessarin::GridPainter;
using tessarin::GridView;
using windowtest::cellrect;
using windowtest::coloursin;
using windowtest::inkbox;
using windowtest::kBlack;
using windowtest::kCellH;
using windowtest::kCellW;
using windowtest::kRed;
using windowtest::kWhite;

namespace {

// The start font, drawn solid.
QFont gridfont(int pixels = 12) {
    QFont font = tessarin::startfont();
    font.setPixelSize(pixels);
    font.setStyleStrategy(QFont::NoAntialias);
    return font;
}

QImage painted(GridPainter& painter, std::span<const std::uint8_t> document, std::int64_t topaddr,
               int cols, int height, DispMode mode = DispMode::ascii,
               const QFont& font = gridfont(), qreal ratio = 1) {
    QImage picture = GridPainter::freshpicture(cols * kCellW + 20, height, ratio);
    painter.paint(picture, font, mode, document, GridView{topaddr, cols, kCellW, kCellH});
    return picture;
}

QImage painted(std::span<const std::uint8_t> document, std::int64_t topaddr, int cols, int height,
               DispMode mode = DispMode::ascii, const QFont& font = gridfont(), qreal ratio = 1) {
    GridPainter painter;
    return painted(painter, document, topaddr, cols, height, mode, font, ratio);
}

// A file of `size` zero bytes that takes no disk space where the file system leaves the unwritten
// part out, mapped read-only.
class SparseMap {
public:
    SparseMap(const QString& path, std::int64_t size) : file_(path) {
        if (file_.open(QIODevice::WriteOnly) && file_.resize(size)) {
            file_.close();
            if (file_.open(QIODevice::ReadOnly)) {
                base_ = file_.map(0, size);
                size_ = std::size_t(size);
            }
        }
    }

    bool ok() const { return base_ != nullptr; }
    std::span<const std::uint8_t> bytes() const { return {base_, size_}; }

private:
    QFile file_;
    const std::uint8_t* base_ = nullptr;
    std::size_t size_ = 0;
};

}  // namespace

class GridPaintTest : public QObject {
    Q_OBJECT

private slots:
    void celltexts_data() { windowtest::addmoderows(); }

    void celltexts() {
        QFETCH(int, mode);
        QSet<QString> distinct;
        int replaced = 0;
        for (int b = 0; b < 256; ++b) {
            const QString text = tessarin::celltext(std::uint8_t(b), DispMode(mode));
            QVERIFY2(text == windowtest::label(b, DispMode(mode)),
                     qPrintable(QString::asprintf("byte %d: ", b) + text));
            if (text == QString(QChar(char16_t(0xFFFD)))) {
                ++replaced;
            } else {
                distinct.insert(text);
            }
        }
        // Only the bytes that are no Shift_JIS character on their own share a label: 80, A0, 81-9F
        // and E0-FF in ASCII mode.
        QCOMPARE(replaced, DispMode(mode) == DispMode::ascii ? 1 + 1 + 31 + 32 : 0);
        QCOMPARE(distinct.size(), 256 - replaced);
    }

    void cellsholdonlytheirclasscolour_data() { windowtest::addmoderows(); }

    // Every byte value once, 16 to a row: each cell shows ink of its byte's colour and nothing
    // else, the red end marker follows the last byte, and the rows below it stay white. The one
    // check of each byte's colour.
    void cellsholdonlytheirclasscolour() {
        QFETCH(int, mode);
        std::vector<std::uint8_t> document(256);
        for (int b = 0; b < 256; ++b) {
            document[b] = std::uint8_t(b);
        }
        const int cols = 16;
        const QImage picture = painted(document, 0, cols, 18 * kCellH, DispMode(mode));
        for (int r = 0; r < 256; ++r) {
            QVERIFY2(coloursin(picture, cellrect(r, cols)) == (QSet{kWhite, windowtest::inkof(r)}),
                     qPrintable(QString::asprintf("cell %d", r)));
        }
        QCOMPARE(coloursin(picture, cellrect(256, cols)), (QSet{kWhite, kRed}));
        QCOMPARE(coloursin(picture, QRect(0, 17 * kCellH, picture.width(), kCellH)), QSet{kWhite});
    }

    void endmarker_data() {
        QTest::addColumn<int>("length");
        QTest::addColumn<int>("topaddr");
        QTest::addColumn<int>("cols");
        QTest::addColumn<int>("eofcell");  // -1: the marker lies below the picture
        // Which cell holds the marker is textout's (textout_test); here the painter's view of the
        // rows in its picture and the top offset reach it.
        QTest::newRow("scrolled") << 10 << 6 << 3 << 4;
        QTest::newRow("last visible cell") << 11 << 0 << 3 << 11;
        QTest::newRow("below the picture") << 12 << 0 << 3 << -1;
    }

    // With 4 rows of cells in view: red ink in the marker's cell only, the cells before it hold
    // their bytes, the cells after it are white.
    void endmarker() {
        QFETCH(int, length);
        QFETCH(int, topaddr);
        QFETCH(int, cols);
        QFETCH(int, eofcell);
        const std::vector<std::uint8_t> document(std::size_t(length), 'A');
        const QImage picture = painted(document, topaddr, cols, 4 * kCellH);
        for (int r = 0; r < 4 * cols; ++r) {
            const QSet<QRgb> colours = coloursin(picture, cellrect(r, cols));
            const QSet<QRgb> expected = r == eofcell                 ? QSet{kWhite, kRed}
                                        : eofcell < 0 || r < eofcell ? QSet{kWhite, kBlack}
                                                                     : QSet{kWhite};
            QVERIFY2(colours == expected, qPrintable(QString::asprintf("cell %d", r)));
        }
    }

    void drawsnothing_data() {
        QTest::addColumn<int>("topaddr");
        QTest::addColumn<int>("height");
        QTest::newRow("topaddr far past the end") << 5000 << 100;
        QTest::newRow("topaddr before the start") << -1 << 100;
        QTest::newRow("picture 19 px high") << 0 << 19;
    }

    void drawsnothing() {
        QFETCH(int, topaddr);
        QFETCH(int, height);
        const std::vector<std::uint8_t> document(10, 'A');
        const QImage picture = painted(document, topaddr, 4, height);
        QCOMPARE(picture.height(), height);
        QCOMPARE(coloursin(picture), QSet{kWhite});
    }

    // A binary label is wider than its cell; it starts at its cell's left edge, and the label of
    // the next cell is drawn over the part that runs into it, box and all.
    void nextlabelcoversoverflow() {
        const QFont font = gridfont(14);
        const std::uint8_t zero = 0x00;  // grey
        QVERIFY(QFontMetricsF(font).horizontalAdvance(tessarin::celltext(zero, DispMode::bin)) >
                kCellW + 2);
        const QRect nextcell = cellrect(1, 2);

        // Alone in its row, the label runs into the next cell's box.
        const std::vector<std::uint8_t> alone = {zero};
        QVERIFY(coloursin(painted(alone, 0, 1, kCellH, DispMode::bin, font),
                          QRect(kCellW, 0, kCellW, kCellH))
                    .contains(windowtest::kGrey));

        const std::vector<std::uint8_t> two = {zero, 'A'};
        const QImage picture = painted(two, 0, 2, kCellH, DispMode::bin, font);
        QCOMPARE(coloursin(picture, nextcell), (QSet{kWhite, kBlack}));
        // A centred label would start left of its cell, and put ink into the cell before it.
        QVERIFY(inkbox(picture, cellrect(0, 2), windowtest::kGrey).left() < 4);
        QVERIFY(inkbox(picture, nextcell, kBlack).left() < kCellW + 4);
        QVERIFY(!coloursin(picture, cellrect(0, 2)).contains(kBlack));
    }

    void nullpicture() {
        QVERIFY(GridPainter::freshpicture(0, 100, 1).isNull());
        QVERIFY(GridPainter::freshpicture(100, 0, 1).isNull());
        QImage picture;
        const std::vector<std::uint8_t> document(10, 'A');
        GridPainter painter;
        painter.paint(picture, gridfont(), DispMode::ascii, document,
                      GridView{0, 2, kCellW, kCellH});
        QVERIFY(picture.isNull());
    }

    // At pixel ratio 2 the picture has twice the pixels each way, cells stay 50 x 20 logical
    // pixels: the label of cell 1 is cell 0's label moved 100 device pixels right.
    void pixelratiotwo() {
        const std::vector<std::uint8_t> document = {'W', 'W'};
        const QImage picture = painted(document, 0, 2, 2 * kCellH, DispMode::ascii, gridfont(), 2);
        QCOMPARE(picture.size(), QSize(2 * (2 * kCellW + 20), 2 * 2 * kCellH));
        QCOMPARE(picture.devicePixelRatio(), 2.0);
        const QImage first = picture.copy(0, 0, 2 * kCellW, 2 * kCellH);
        QVERIFY(coloursin(first) != QSet{kWhite});
        QCOMPARE(picture.copy(2 * kCellW, 0, 2 * kCellW, 2 * kCellH), first);
        QCOMPARE(coloursin(picture, cellrect(2, 2)), (QSet{kWhite, kRed}));
        QCOMPARE(coloursin(picture, cellrect(3, 2)), QSet{kWhite});

        // The label is drawn from the font at twice the size, not from the small label scaled.
        const QImage single = painted(document, 0, 2, 2 * kCellH);
        const QImage doubled = single.scaled(single.size() * 2);
        QVERIFY(picture.copy(0, 0, 2 * kCellW, 2 * kCellH) !=
                doubled.copy(0, 0, 2 * kCellW, 2 * kCellH));
    }

    void cachefollowssettings_data() {
        QTest::addColumn<QFont>("fontb");
        QTest::addColumn<int>("modeb");
        QTest::addColumn<qreal>("ratiob");
        QFont bold = gridfont();
        bold.setBold(true);
        QTest::newRow("font size") << gridfont(16) << int(DispMode::ascii) << 1.0;
        QTest::newRow("font weight") << bold << int(DispMode::ascii) << 1.0;
        QTest::newRow("mode") << gridfont() << int(DispMode::hex) << 1.0;
        QTest::newRow("pixel ratio") << gridfont() << int(DispMode::ascii) << 2.0;
    }

    // One painter used with setting A, then B, then A again paints what a new painter paints with
    // each setting, and A differs from B.
    void cachefollowssettings() {
        QFETCH(QFont, fontb);
        QFETCH(int, modeb);
        QFETCH(qreal, ratiob);
        std::vector<std::uint8_t> document(64);
        for (std::size_t i = 0; i < document.size(); ++i) {
            document[i] = std::uint8_t(i * 37 + 5);
        }
        const auto modea = DispMode::ascii;
        const QFont fonta = gridfont();
        const QImage a = painted(document, 0, 8, 180, modea, fonta, 1);
        const QImage b = painted(document, 0, 8, 180, DispMode(modeb), fontb, ratiob);
        QVERIFY(a != b);
        GridPainter shared;
        QCOMPARE(painted(shared, document, 0, 8, 180, modea, fonta, 1), a);
        QCOMPARE(painted(shared, document, 0, 8, 180, DispMode(modeb), fontb, ratiob), b);
        QCOMPARE(painted(shared, document, 0, 8, 180, modea, fonta, 1), a);
    }

    void farendofrange_data() {
        QTest::addColumn<int>("back");  // topaddr = length - back
        QTest::addColumn<int>("bytes");
        QTest::newRow("5 bytes left") << 5 << 5;
        QTest::newRow("topaddr at the end") << 0 << 0;
        QTest::newRow("one cell short of filling the view") << 23 << 23;
        QTest::newRow("exactly filling the view") << 24 << 24;
        QTest::newRow("more than the view") << 48 << 24;
    }

    // The longest document a length can describe, 2^31 - 1 bytes, as a sparse file of zeros: the
    // bytes left are drawn grey, the marker after them, nothing after that.
    void farendofrange() {
        QFETCH(int, back);
        QFETCH(int, bytes);
        constexpr std::int64_t kLength = 0x7FFFFFFF;
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const SparseMap map(dir.filePath(QStringLiteral("large.bin")), kLength);
        QVERIFY(map.ok());
        QCOMPARE(std::int64_t(map.bytes().size()), kLength);
        const int cols = 2;
        const QImage picture = painted(map.bytes(), kLength - back, cols, 244);
        for (int r = 0; r < 12 * cols; ++r) {
            const QSet<QRgb> expected = r < bytes    ? QSet{kWhite, windowtest::kGrey}
                                        : r == bytes ? QSet{kWhite, kRed}
                                                     : QSet{kWhite};
            QVERIFY2(coloursin(picture, cellrect(r, cols)) == expected,
                     qPrintable(QString::asprintf("cell %d", r)));
        }
        QCOMPARE(coloursin(picture, QRect(0, 240, picture.width(), 4)), QSet{kWhite});
    }
};

QTEST_MAIN(GridPaintTest)
#include "gridpaint_test.moc"
