// The window at a device pixel ratio of 2 (run with QT_SCALE_FACTOR=2): the grid picture has
// twice the pixels and its labels are drawn from the font at device resolution; cells, the column
// rule, the hit test and the address panel stay in logical pixels.
#include <QPainter>
#include <QtTest>

#include <cstdint>
#include <vector>

#include "main/tform1.h"
#include "tests/windowtest.h"

using windowtest::inkbox;
using windowtest::isink;
using windowtest::kCellH;
using windowtest::kCellW;
using windowtest::setdocument;

class HiDpiTest : public QObject, windowtest::Fixture {
    Q_OBJECT

private:
    QWindow* window() const { return form->windowHandle(); }
    QPoint ingrid(QPoint logical) const { return form->Image1->mapTo(form, logical); }

private slots:
    void init() {
        QVERIFY(startwindow());
        // Without Qt's scaling on this platform nothing below would mean anything.
        QCOMPARE(form->devicePixelRatioF(), 2.0);
    }
    void cleanup() { endwindow(); }

    void pictureHasTwiceThePixels() {
        windowtest::solidfont(form);
        setdocument(form, {'W', 'W', 'W'});
        // At the design size, which Wayland's first size at this scale can miss by a pixel.
        QVERIFY(windowtest::resizewindow(form, windowtest::kDesignSize));
        const QImage& picture = form->Image1->picture();
        QCOMPARE(form->Image1->geometry(), windowtest::gridrect(windowtest::kDesignSize));
        QCOMPARE(picture.devicePixelRatio(), 2.0);
        QCOMPARE(picture.size(), QSize(330, 488));
        QCOMPARE(form->cols(), 2);
        // 50 x 20 logical cells: cell 1 starts at device x 100, cell 2 at device y 40.
        const QImage first = picture.copy(0, 0, 100, 40);
        QVERIFY(!inkbox(first, {}, isink).isEmpty());
        QCOMPARE(picture.copy(100, 0, 100, 40), first);
        QCOMPARE(picture.copy(0, 40, 100, 40), first);
        QVERIFY(inkbox(picture, QRect(100, 0, 65, 244), isink).isEmpty());

        // The label is drawn from the font at device resolution: its ink spans more device pixels
        // than the same text drawn by Qt at ratio 1, and is not that text scaled up.
        QImage single(kCellW, kCellH, QImage::Format_RGB32);
        single.fill(Qt::white);
        QPainter painter(&single);
        painter.setFont(form->gridfont());
        painter.drawText(QPointF(0, QFontMetricsF(form->gridfont()).ascent()), QStringLiteral("W"));
        painter.end();
        const QRect ink2 = inkbox(first, {}, isink);
        const QRect ink1 = inkbox(single, {}, isink);
        QVERIFY(!ink1.isEmpty());
        QVERIFY2(ink2.width() >= 2 * ink1.width() - 1,
                 qPrintable(QStringLiteral("%1 vs %2").arg(ink2.width()).arg(ink1.width())));
        QVERIFY(first != single.scaled(2 * kCellW, 2 * kCellH).convertToFormat(first.format()));
    }

    void columnRuleInLogicalPixels_data() {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("cols");
        QTest::newRow("design size") << 292 << 2;
        QTest::newRow("grid 169 wide") << 296 << 2;
        QTest::newRow("grid 170 wide") << 297 << 3;
        QTest::newRow("grid 420 wide") << 547 << 8;
    }

    void columnRuleInLogicalPixels() {
        QFETCH(int, width);
        QFETCH(int, cols);
        form->resize(width, 300);
        const int gridwidth = windowtest::gridrect({width, 300}).width();
        QTRY_COMPARE(form->Image1->width(), gridwidth);
        QCOMPARE(form->cols(), cols);
        QCOMPARE(form->Image1->picture().width(), 2 * gridwidth);
    }

    void clickAndPointerInLogicalPixels_data() {
        QTest::addColumn<QPoint>("at");
        QTest::addColumn<int>("offset");
        QTest::addColumn<QString>("address");
        QTest::newRow("cell 0") << QPoint(10, 5) << 0 << "Addr.:0";
        QTest::newRow("cell 3") << QPoint(60, 25) << 3 << "Addr.:3";
        QTest::newRow("cell 3, top-left corner") << QPoint(50, 20) << 3 << "Addr.:3";
        QTest::newRow("cell 2, bottom-right pixel") << QPoint(49, 39) << 2 << "Addr.:2";
        QTest::newRow("last whole row") << QPoint(99, 239) << 23 << "Addr.:17";
    }

    // Through the window system, whose positions are scaled to the device and back.
    void clickAndPointerInLogicalPixels() {
        QFETCH(QPoint, at);
        QFETCH(int, offset);
        QFETCH(QString, address);
        setdocument(form, std::vector<std::uint8_t>(100, 'x'));
        QTest::mouseMove(window(), ingrid(at));
        QTRY_COMPARE(form->panels[1]->text(), address);
        QTest::mouseClick(window(), Qt::LeftButton, {}, ingrid(at));
        QTRY_VERIFY(form->cbc->isVisible());
        QCOMPARE(form->selpos(), offset);
        QCOMPARE(form->cbc->pos(), form->Image1->pos() + windowtest::cellrect(offset, 2).topLeft());
    }
};

QTEST_MAIN(HiDpiTest)
#include "hidpi_test.moc"
