// The main window's icon comes from the resources compiled into the window library, at the sizes
// a window manager picks from, and is the same picture that is installed in the icon theme.
#include <QIcon>
#include <QImage>
#include <QtTest>

#include "main/tform1.h"

namespace {

class WindowIconTest : public QObject {
    Q_OBJECT

private slots:
    void iconhasthebuiltinsizes() {
        tessarin::TForm1 window;
        const QIcon icon = window.windowIcon();
        QVERIFY2(!icon.isNull(), "the window has no icon: the icon resource is not linked in");
        const QList<QSize> sizes = icon.availableSizes();
        for (int size : {16, 32, 48, 256}) {
            QVERIFY2(sizes.contains(QSize(size, size)),
                     qPrintable(QStringLiteral("no %1 px window icon").arg(size)));
        }
    }

    void iconmatchestheinstalledpictures() {
        tessarin::TForm1 window;
        const QIcon icon = window.windowIcon();
        for (int size : {16, 32, 48, 256}) {
            const QString path = QStringLiteral(TESSARIN_ICON_DIR "/tessarin-%1.png").arg(size);
            const QImage installed =
                QImage(path).convertToFormat(QImage::Format_ARGB32_Premultiplied);
            QVERIFY2(!installed.isNull(), qPrintable(QStringLiteral("cannot read ") + path));
            const QImage shown = icon.pixmap(QSize(size, size), 1.0)
                                     .toImage()
                                     .convertToFormat(QImage::Format_ARGB32_Premultiplied);
            QCOMPARE(shown.size(), installed.size());
            QVERIFY2(
                shown == installed,
                qPrintable(QStringLiteral("the %1 px window icon differs from ").arg(size) + path));
        }
    }
};

}  // namespace

QTEST_MAIN(WindowIconTest)
#include "windowicon_test.moc"
