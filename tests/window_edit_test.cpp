// The main window as a patcher: the byte editor over the grid, and Save in each display mode.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScreen>
#include <QSignalSpy>
#include <QtTest>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "binio/syscalls.h"
#include "main/tform1.h"
#include "tests/fscalls.h"
#include "tests/windowtest.h"

using tessarin::TForm1;
using testutil::randombytes;
using windowtest::setdocument;

namespace {

// A name that appears in the middle of a save: the `after`-th time the file work looks up `path`
// and finds nothing, a file holding `content` is made there right behind the look-up. With
// `closing`, the window is then asked to close, and the look-up goes on once it has the request.
struct Appearing {
    QString path;
    QByteArray content;
    int after = 0;
    int misses = 0;
    bool created = false;
    QWidget* closing = nullptr;
    const std::atomic<bool>* closeseen = nullptr;
};
Appearing appearing;

// A look-up of `name` found nothing.
void missed(const std::filesystem::path& name) {
    if (appearing.path.isEmpty() ||
        name.filename() != std::filesystem::path(appearing.path.toStdWString()).filename() ||
        ++appearing.misses != appearing.after) {
        return;
    }
    QFile file(appearing.path);
    appearing.created = file.open(QIODevice::WriteOnly | QIODevice::NewOnly) &&
                        file.write(appearing.content) == appearing.content.size();
    if (appearing.closing != nullptr) {
        QMetaObject::invokeMethod(appearing.closing, &QWidget::close, Qt::QueuedConnection);
        for (int i = 0; i < 30000 && !*appearing.closeseen; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
}

}  // namespace

namespace {

enum Mode { ascii, hex, bin, dec };

const QString kRefusal = QStringLiteral(
    "申し訳ありませんが、本ソフトは上書き保存ができません。\n別名で保存してください。");

}  // namespace

class WindowEditTest : public QObject, windowtest::Fixture {
    Q_OBJECT

private slots:
    void init() {
        appearing = Appearing();
        QVERIFY(startwindow());
        QCOMPARE(form->cols(), 2);
        QCOMPARE(form->Image1->geometry(), QRect(8, 8, 165, 244));
    }

    void cleanup() {
        appearing = Appearing();
        endwindow();
    }

    // -----------------------------------------------------------------------------------------
    // The byte editor

    void editorListsBytesInMode_data() { windowtest::addmoderows(); }

    void editorListsBytesInMode() {
        QFETCH(int, mode);
        setmode(mode);
        setdocument(form, "\x07\x08");
        clickgrid({10, 5});
        QCOMPARE(form->cbc->count(), 256);
        QCOMPARE(form->cbc->width(), 66);
        // A byte of each colour class; gridpaint_test checks every label.
        for (const int b : {0, 10, 65, 200}) {
            QCOMPARE(form->cbc->itemText(b), windowtest::label(b, tessarin::DispMode(mode)));
        }
    }

    void clickOnByteOpensEditor_data() {
        QTest::addColumn<int>("scroll");
        QTest::addColumn<QPoint>("click");
        QTest::addColumn<int>("offset");
        QTest::addColumn<QPoint>("editorpos");

        QTest::newRow("first cell") << 0 << QPoint(10, 5) << 0 << QPoint(8, 8);
        QTest::newRow("cell 3") << 0 << QPoint(60, 25) << 3 << QPoint(58, 28);
        QTest::newRow("top-left corner of cell 3") << 0 << QPoint(50, 20) << 3 << QPoint(58, 28);
        QTest::newRow("bottom-right pixel of cell 2") << 0 << QPoint(49, 39) << 2 << QPoint(8, 28);
        QTest::newRow("last whole row") << 0 << QPoint(99, 239) << 23 << QPoint(58, 228);
        QTest::newRow("strip below the rows") << 0 << QPoint(10, 242) << 24 << QPoint(8, 248);
        QTest::newRow("scrolled by 5 rows") << 5 << QPoint(60, 25) << 13 << QPoint(58, 28);
    }

    void clickOnByteOpensEditor() {
        QFETCH(int, scroll);
        QFETCH(QPoint, click);
        QFETCH(int, offset);
        QFETCH(QPoint, editorpos);
        QByteArray bytes(100, '\0');
        for (int i = 0; i < bytes.size(); ++i) {
            bytes[i] = char(250 - i);
        }
        setdocument(form, bytes);
        form->sbv->setValue(scroll);
        QSignalSpy picks(form->cbc, &QComboBox::activated);

        clickgrid(click);

        QCOMPARE(form->selpos(), offset);
        QVERIFY(form->cbc->isVisible());
        QCOMPARE(form->cbc->pos(), editorpos);
        QCOMPARE(form->cbc->currentIndex(), 250 - offset);
        // Raised above the grid and every other control.
        QCOMPARE(form->children().constLast(), static_cast<QObject*>(form->cbc));
        // Filling and pre-selecting store nothing.
        QCOMPARE(picks.count(), 0);
        QCOMPARE(document(), bytes);
        // Its height follows a new font at once.
        const int height = form->cbc->height();
        QFont font = form->gridfont();
        font.setPixelSize(27);
        form->setgridfont(font);
        QVERIFY(form->cbc->height() > height);
    }

    void clickOnNoByteClosesEditor_data() {
        QTest::addColumn<QPoint>("click");
        QTest::addColumn<int>("selpos");

        // Five bytes: the end marker is cell 5, at column 1 of row 2.
        QTest::newRow("right margin") << QPoint(100, 5) << -1;
        QTest::newRow("far right margin") << QPoint(160, 25) << -1;
        QTest::newRow("end marker") << QPoint(60, 45) << 5;
        QTest::newRow("past the end marker") << QPoint(10, 105) << 10;
        QTest::newRow("strip past the end") << QPoint(60, 242) << 25;
    }

    void clickOnNoByteClosesEditor() {
        QFETCH(QPoint, click);
        QFETCH(int, selpos);
        windowtest::solidfont(form);
        const QByteArray bytes("\x7F\x02\x03\x04\x05");
        setdocument(form, bytes);
        clickgrid({10, 5});
        QVERIFY(form->cbc->isVisible());
        // An edit under the editor, not drawn yet: 7F (black) becomes 80 (blue).
        form->cbc->setFocus();
        QTest::keyClick(form->cbc, Qt::Key_Down);
        const QByteArray edited("\x80\x02\x03\x04\x05");
        QCOMPARE(document(), edited);

        clickgrid(click);

        QVERIFY(form->cbc->isHidden());
        QCOMPARE(form->selpos(), selpos);
        // The uncovered cell shows the edited byte.
        const QString fault = windowtest::gridfault(form);
        QVERIFY2(fault.isEmpty(), qPrintable(fault));
        // A choice made in the list now has no byte to go to.
        QSignalSpy picks(form->cbc, &QComboBox::activated);
        QTest::keyClick(form->cbc, Qt::Key_Down);
        QCOMPARE(picks.count(), 1);
        QCOMPARE(document(), edited);
    }

    void pickStoresIndex_data() {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("before");
        QTest::addColumn<QString>("keys");  // typed text, or empty for `key`
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("picks");
        QTest::addColumn<int>("after");

        // Typing searches the labels: "4" finds "40", "41" then "41".
        QTest::newRow("hex typed 41") << int(hex) << 0x00 << "41" << 0 << 2 << 65;
        QTest::newRow("dec typed 2") << int(dec) << 0x00 << "2" << 0 << 1 << 200;
        QTest::newRow("ascii down") << int(ascii) << 65 << "" << int(Qt::Key_Down) << 1 << 66;
        QTest::newRow("bin up") << int(bin) << 100 << "" << int(Qt::Key_Up) << 1 << 99;
        QTest::newRow("dec end") << int(dec) << 3 << "" << int(Qt::Key_End) << 1 << 255;
        // Backspace runs the change without moving the selection.
        QTest::newRow("hex backspace")
            << int(hex) << 0x7F << "" << int(Qt::Key_Backspace) << 1 << 0x7F;
    }

    void pickStoresIndex() {
        QFETCH(int, mode);
        QFETCH(int, before);
        QFETCH(QString, keys);
        QFETCH(int, key);
        QFETCH(int, picks);
        QFETCH(int, after);
        setmode(mode);
        QByteArray bytes("\xAA\xBB\xCC\xDD?\xEE");
        bytes[4] = char(before);
        setdocument(form, bytes);
        clickgrid({10, 45});  // cell 4
        QCOMPARE(form->selpos(), 4);
        QCOMPARE(form->cbc->currentIndex(), before);
        form->cbc->setFocus();
        QSignalSpy spy(form->cbc, &QComboBox::activated);

        if (keys.isEmpty()) {
            QTest::keyClick(form->cbc, Qt::Key(key));
        } else {
            QTest::keyClicks(form->cbc, keys);
        }

        QCOMPARE(spy.count(), picks);
        QCOMPARE(spy.constLast().at(0).toInt(), after);
        bytes[4] = char(after);
        QCOMPARE(document(), bytes);
        QVERIFY(form->cbc->isVisible());
    }

    void modeSwitchKeepsListUntilNextClick() {
        setmode(hex);
        setdocument(form, "\x10\x20");
        clickgrid({10, 5});
        QCOMPARE(form->cbc->itemText(0x10), QStringLiteral("10"));

        form->rb_mbdec->click();

        QVERIFY(form->rb_mbdec->isChecked());
        QVERIFY(form->cbc->isVisible());
        QCOMPARE(form->cbc->itemText(0xFF), QStringLiteral("FF"));
        QTest::keyClick(form->cbc, Qt::Key_Down);
        QCOMPARE(document(), QByteArray("\x11\x20"));

        clickgrid({10, 5});
        QCOMPARE(form->cbc->itemText(0x11), QStringLiteral("017"));
        QCOMPARE(form->cbc->itemText(0xFF), QStringLiteral("255"));
        QCOMPARE(form->cbc->currentIndex(), 0x11);
    }

    void rightPressClosesEditor() {
        windowtest::solidfont(form);
        setdocument(form, "\x01\x02\x03");
        clickgrid({60, 5});
        QVERIFY(form->cbc->isVisible());
        const QImage unpicked = form->Image1->picture();
        form->cbcChange('A');

        QTest::mousePress(form->Image1, Qt::RightButton, {}, QPoint(10, 5));
        QTest::mouseRelease(form->Image1, Qt::RightButton, {}, QPoint(10, 5));

        QVERIFY(form->cbc->isHidden());
        QCOMPARE(document(), QByteArray("\x01"
                                        "A"
                                        "\x03"));
        // The uncovered cell shows the picked byte, black where 02 was grey.
        QVERIFY(form->Image1->picture() != unpicked);
        const QString fault = windowtest::gridfault(form);
        QVERIFY2(fault.isEmpty(), qPrintable(fault));
    }

    void resizeMovesOrClosesEditor_data() {
        QTest::addColumn<int>("widthbefore");  // extra pixels over the design width
        QTest::addColumn<int>("scroll");
        QTest::addColumn<QPoint>("click");
        QTest::addColumn<int>("widthafter");
        QTest::addColumn<int>("colsafter");
        QTest::addColumn<int>("selpos");
        QTest::addColumn<qint64>("topaddr");
        QTest::addColumn<bool>("shown");
        QTest::addColumn<QPoint>("editorpos");

        // Two columns scrolled by 2 rows: offset 9 in relative cell 5 becomes row 1, column 2.
        QTest::newRow("widen 2 to 3")
            << 0 << 2 << QPoint(60, 45) << 50 << 3 << 9 << qint64(4) << true << QPoint(108, 28);
        // The strip byte (relative 24) lands in whole row 8 of three columns.
        QTest::newRow("widen with the strip byte")
            << 0 << 0 << QPoint(10, 242) << 50 << 3 << 24 << qint64(0) << true << QPoint(8, 168);
        // Three columns scrolled by 2 rows: offset 11 in relative cell 5 becomes row 2, column 1.
        QTest::newRow("narrow 3 to 2")
            << 50 << 2 << QPoint(110, 25) << 0 << 2 << 11 << qint64(6) << true << QPoint(58, 48);
        // Relative cells 23 and 24 at two columns: the last whole cell, and the first of the strip.
        QTest::newRow("narrow 3 to 2 into the last whole row")
            << 50 << 0 << QPoint(110, 145) << 0 << 2 << 23 << qint64(0) << true << QPoint(58, 228);
        QTest::newRow("narrow 3 to 2 into the strip")
            << 50 << 0 << QPoint(10, 165) << 0 << 2 << 24 << qint64(0) << false << QPoint();
        // Relative cell 35 is past the 24 whole cells of two columns.
        QTest::newRow("narrow 3 to 2 off the grid")
            << 50 << 0 << QPoint(110, 225) << 0 << 2 << 35 << qint64(0) << false << QPoint();
    }

    void resizeMovesOrClosesEditor() {
        QFETCH(int, widthbefore);
        QFETCH(int, scroll);
        QFETCH(QPoint, click);
        QFETCH(int, widthafter);
        QFETCH(int, colsafter);
        QFETCH(int, selpos);
        QFETCH(qint64, topaddr);
        QFETCH(bool, shown);
        QFETCH(QPoint, editorpos);
        const QSize design = form->size();
        form->resize(design.width() + widthbefore, design.height());
        QTRY_COMPARE(form->Image1->width(), 165 + widthbefore);
        setdocument(form, randombytes(7, 1000));
        form->sbv->setValue(scroll);
        clickgrid(click);
        QCOMPARE(form->selpos(), selpos);
        QVERIFY(form->cbc->isVisible());

        form->resize(design.width() + widthafter, design.height());
        QTRY_COMPARE(form->Image1->width(), 165 + widthafter);

        QCOMPARE(form->cols(), colsafter);
        QCOMPARE(form->topaddr(), topaddr);
        QCOMPARE(form->selpos(), selpos);
        QCOMPARE(form->cbc->isVisible(), shown);
        if (shown) {
            QCOMPARE(form->cbc->pos(), editorpos);
        }
    }

    // -----------------------------------------------------------------------------------------
    // Save

    void saveWritesModeText_data() {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QByteArray>("expected");

        const QByteArray bytes("\x41\x0A\xFF\x00\x80\x09\x7F", 7);
        const QByteArray texts[] = {bytes, "410AFF0080097F",
                                    "01000001000010101111111100000000100000000000100101111111",
                                    "065010255000128009127"};
        for (int mode : {ascii, hex, bin, dec}) {
            windowtest::moderow(mode) << bytes << texts[mode];
            windowtest::moderow(mode, ", empty") << QByteArray() << QByteArray();
        }
    }

    void saveWritesModeText() {
        QFETCH(int, mode);
        QFETCH(QByteArray, bytes);
        QFETCH(QByteArray, expected);
        const QString source = scratchfile("source.bin", bytes);
        open(source);
        setmode(mode);
        clickgrid({60, 25});
        QCOMPARE(form->cbc->isVisible(), !bytes.isEmpty());
        const QVariantList before = windowtest::snapshot(form);

        const QString target = filepath("out.txt");
        QVERIFY(!save(target).box.shown);

        QVERIFY(QFileInfo(target).isFile());
        QCOMPARE(testutil::readfile<QByteArray>(target), expected);
        QCOMPARE(windowtest::snapshot(form), before);
    }

    void saveRefusesExistingName_data() {
        QTest::addColumn<QString>("kind");
        QTest::newRow("file") << "file";
        QTest::newRow("link to a file") << "link";
        QTest::newRow("dangling link") << "dangling";
        QTest::newRow("link to a folder") << "folderlink";
        QTest::newRow("the opened file") << "opened";
    }

    void saveRefusesExistingName() {
        QFETCH(QString, kind);
#ifdef _WIN32
        if (kind != "file" && kind != "opened") {
            QSKIP("Wine makes no symbolic links, and Windows only for a user allowed to");
        }
#endif
        const QString source = scratchfile("doc.bin", "\x01\x02\x03\x04");
        open(source);
        clickgrid({10, 5});
        const QString other = filepath("other.txt");
        const QString target = kind == "opened" ? source : filepath("target");
        if (kind == "file") {
            testutil::writefile(target, "old contents\n");
        } else if (kind == "link") {
            testutil::writefile(other, "old contents\n");
            QVERIFY(QFile::link(other, target));
        } else if (kind == "dangling") {
            QVERIFY(QFile::link(other, target));
        } else if (kind == "folderlink") {
            QVERIFY(QDir().mkdir(other));
            QVERIFY(QFile::link(other, target));
        }
        const QByteArray targetbefore = testutil::readfile<QByteArray>(target);
        // Without the picture, which the mode switch redraws.
        const QVariantList before = windowtest::snapshot(form, windowtest::Picture::out);

        // In the middle of the screen, not over the window: its frame, once a window manager has
        // put one around it. On Wayland the compositor places windows, and tells nobody where.
        const bool placed = QGuiApplication::platformName() != QLatin1String("wayland");
        const QPoint centre = form->screen()->availableGeometry().center();
        const auto centred = [centre](const QMessageBox* box) {
            return (box->windowHandle()->frameGeometry().center() - centre).manhattanLength() <= 2;
        };
        for (int mode : {ascii, hex}) {
            setmode(mode);
            const windowtest::Box box =
                save(target, placed ? centred : std::function<bool(const QMessageBox*)>()).box;

            QVERIFY(box.shown);
            QCOMPARE(box.caption, QStringLiteral("エラー"));
            QCOMPARE(box.icon, QMessageBox::Critical);
            QCOMPARE(box.text, kRefusal);
            if (placed) {
                QVERIFY(form->frameGeometry().center() != centre);
                QVERIFY2((box.geometry.center() - centre).manhattanLength() <= 2,
                         qPrintable(QStringLiteral("box centred at %1, %2")
                                        .arg(box.geometry.center().x())
                                        .arg(box.geometry.center().y())));
            }
            QCOMPARE(testutil::readfile<QByteArray>(target), targetbefore);
            QCOMPARE(windowtest::snapshot(form, windowtest::Picture::out), before);
        }
        QCOMPARE(testutil::readfile<QByteArray>(source), QByteArray("\x01\x02\x03\x04"));
        if (kind != "file" && kind != "opened") {
            QCOMPARE(QFileInfo(target).symLinkTarget(), other);
            QCOMPARE(testutil::exists(other), kind != "dangling");
        }
        if (!placed) {
            QSKIP("the box's place is the compositor's on Wayland; all else held");
        }
    }

    void nameAppearingDuringSaveIsRefused_data() {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("after");
        QTest::addColumn<bool>("closing");

        // After the window's own check the name is free; the write finds it taken.
        QTest::newRow("after the window's check, raw") << int(ascii) << 1 << false;
        QTest::newRow("after the window's check, text") << int(dec) << 1 << false;
        // Later still: the output is written unnamed and cannot take the name.
        QTest::newRow("during the write, raw") << int(ascii) << 2 << false;
        QTest::newRow("during the write, text") << int(hex) << 2 << false;
        // Nothing was saved: the window stays with the document.
        QTest::newRow("during the write, the window asked to close") << int(bin) << 2 << true;
    }

    void nameAppearingDuringSaveIsRefused() {
        QFETCH(int, mode);
        QFETCH(int, after);
        QFETCH(bool, closing);
        const windowtest::EventSeen closes(form, QEvent::Close);
        setdocument(form, "abc");
        setmode(mode);
        clickgrid({10, 5});
        const QVariantList before = windowtest::snapshot(form);
        const QString target = filepath("late.txt");

        appearing = {target, "someone else's\n",       after,       0,
                     false,  closing ? form : nullptr, &closes.seen};
        const fscalls::OnMisses lookups(missed);
        const windowtest::Box box = save(target).box;
        QVERIFY(form->isVisible());

        QVERIFY(appearing.created);
        QVERIFY(box.shown);
        QCOMPARE(box.caption, QStringLiteral("エラー"));
        QCOMPARE(box.icon, QMessageBox::Critical);
        QCOMPARE(box.text, kRefusal);
        QCOMPARE(testutil::readfile<QByteArray>(target), QByteArray("someone else's\n"));
        QCOMPARE(windowtest::entries(scratch()), QStringList{"late.txt"});
        QCOMPARE(windowtest::snapshot(form), before);
    }

private:
    void setmode(int mode) {
        windowtest::modebutton(form, mode)->setChecked(true);
    }
    // A left click at `pos` on the grid.
    void clickgrid(QPoint pos) {
        QTest::mouseClick(form->Image1, Qt::LeftButton, {}, pos);
    }
};

QTEST_MAIN(WindowEditTest)
#include "window_edit_test.moc"
