// The main window's icon comes from the resources compiled into the window library, with a
// picture of its own at each size a desktop picks from: 16, 32 and 48 pixels and a large one.
#include <QIcon>
#include <QImage>
#include <QSet>
#include <QtTest>

#include "main/tform1.h"

namespace {

class WindowIconTest : public QObject {
    Q_OBJECT

private slots:
    void iconhasthedesktopsizes() {
        tessarin::TForm1 window;
        const QIcon icon = window.windowIcon();
        QVERIFY2(!icon.isNull(), "the window has no icon: the icon resource is not linked in");
        for (int size : {16, 32, 48, 256}) {
            QVERIFY2(icon.availableSizes().contains(QSize(size, size)),
                     qPrintable(QStringLiteral("no %1 px window icon").arg(size)));
            // Drawn, not blank: opaque pixels in more than one colour.
            const QImage image = icon.pixmap(QSize(size, size), 1.0).toImage();
            QCOMPARE(image.size(), QSize(size, size));
            QSet<QRgb> opaque;
            for (int y = 0; y < size; ++y) {
                for (int x = 0; x < size; ++x) {
                    if (qAlpha(image.pixel(x, y)) == 255) {
                        opaque.insert(image.pixel(x, y));
                    }
                }
            }
            QVERIFY2(opaque.size() > 1,
                     qPrintable(QStringLiteral("the %1 px icon is blank").arg(size)));
        }
    }
};

}  // namespace

QTEST_MAIN(WindowIconTest)
#include "windowicon_test.moc"
