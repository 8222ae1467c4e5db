// The window at a device pixel ratio of 2 (run with QT_SCALE_FACTOR=2): the grid picture has
// twice the pixels, cells, the column rule, the hit test and the address panel stay in logical
// pixels, and the labels are drawn from the font at device resolution.
#include <QtTest>

#include <cstdint>
#include <vector>

#include "main/gridpaint.h"
#include "main/tform1.h"
#include "tests/windowtest.h"

using tessarin::DispMode;
using tessarin::GridPainter;
using tessarin::TForm1;

namespace {

// Left and right device x of the non-white pixels in `area` (device pixels), or (-1, -1).
QPair<int, int> inkspan(const QImage& picture, const QRect& area) {
    int left = -1;
    int right = -1;
    for (int x = area.left(); x <= area.right(); ++x) {
        for (int y = area.top(); y <= area.bottom(); ++y) {
            if ((picture.pixel(x, y) & 0xFFFFFF) != 0xFFFFFF) {
                left = left < 0 ? x : left;
                right = x;
                break;
            }
        }
    }
    return {left, right};
}

}  // namespace

class HiDpiTest : public QObject {
    Q_OBJECT

private:
    TForm1* form = nullptr;

    void setdocument(std::vector<std::uint8_t> bytes) {
        form->bindata = std::move(bytes);
        form->setscrollbars();
        form->redraw();
    }

    QWindow* window() const { return form->windowHandle(); }
    QPoint ingrid(QPoint logical) const { return form->Image1->mapTo(form, logical); }

private slots:
    void init() {
        form = new TForm1;
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form));
        // Without Qt's scaling on this platform nothing below would mean anything.
        QCOMPARE(form->devicePixelRatioF(), 2.0);
    }

    void cleanup() {
        delete form;
        form = nullptr;
    }

    void pictureHasTwiceThePixels() {
        QFont font = form->gridfont();
        font.setStyleStrategy(QFont::NoAntialias);
        form->setgridfont(font);
        setdocument({'W', 'W', 'W'});
        const QImage& picture = form->Image1->picture();
        QCOMPARE(form->Image1->size(), QSize(165, 244));
        QCOMPARE(picture.devicePixelRatio(), 2.0);
        QCOMPARE(picture.size(), QSize(330, 488));
        QCOMPARE(form->cols, 2);
        // 50 x 20 logical cells: cell 1 starts at device x 100, cell 2 at device y 40.
        const QImage first = picture.copy(0, 0, 100, 40);
        QVERIFY(inkspan(first, first.rect()).first >= 0);
        QCOMPARE(picture.copy(100, 0, 100, 40), first);
        QCOMPARE(picture.copy(0, 40, 100, 40), first);
        QCOMPARE(inkspan(picture, QRect(200, 0, 130, 488)).first, -1);
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
        QTRY_COMPARE(form->Image1->width(), width - 127);
        QCOMPARE(form->cols, cols);
        QCOMPARE(form->Image1->picture().width(), 2 * (width - 127));
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
        setdocument(std::vector<std::uint8_t>(100, 'x'));
        QTest::mouseMove(window(), ingrid(at));
        QTRY_COMPARE(form->panels[1]->text(), address);
        QTest::mouseClick(window(), Qt::LeftButton, {}, ingrid(at));
        QTRY_VERIFY(form->cbc->isVisible());
        QCOMPARE(form->selpos, offset);
        const int column = offset % 2;
        const int row = offset / 2;
        QCOMPARE(form->cbc->pos(), form->Image1->pos() + QPoint(50 * column, 20 * row));
    }

    // The label's ink spans more device pixels than the same label painted at ratio 1, and is
    // not that label scaled up.
    void labelsAtDeviceResolution() {
        const std::vector<std::uint8_t> document{'W', 'W'};
        setdocument(document);
        const QImage& picture = form->Image1->picture();
        QImage single = GridPainter::freshpicture(165, 244, 1);
        GridPainter().paint(single, form->gridfont(), DispMode::ascii, document,
                            {0, form->cols, form->cellw, form->cellh});

        const auto [left2, right2] = inkspan(picture, QRect(0, 0, 100, 40));
        const auto [left1, right1] = inkspan(single, QRect(0, 0, 50, 20));
        QVERIFY(left1 >= 0 && left2 >= 0);
        QVERIFY2(right2 - left2 >= 2 * (right1 - left1),
                 qPrintable(QStringLiteral("%1 vs %2").arg(right2 - left2).arg(right1 - left1)));
        QVERIFY(picture.copy(0, 0, 100, 40) !=
                single.copy(0, 0, 50, 20).scaled(100, 40).convertToFormat(picture.format()));
    }
};

QTEST_MAIN(HiDpiTest)
#include "hidpi_test.moc"
