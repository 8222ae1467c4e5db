// The main window as a viewer: layout, scrolling, opening files, the grid picture, the address
// panel, the font dialog, the wheel and the keyboard.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QFontDatabase>
#include <QFontDialog>
#include <QImage>
#include <QListView>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QStyleOptionSlider>
#include <QTimer>
#include <QWheelEvent>
#include <QtTest>

#include <array>
#include <cstdint>
#include <mutex>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

#include "main/tform1.h"
#include "tests/windowtest.h"

using tessarin::TForm1;

namespace {

using Bytes = std::vector<std::uint8_t>;
using windowtest::cellrect;
using windowtest::coloursin;
using windowtest::inkbox;
using windowtest::kCellH;
using windowtest::kRed;
using windowtest::kWhite;
using windowtest::setdocument;

bool reddominant(QRgb p) {
    return qRed(p) >= 128 && qRed(p) - qGreen(p) > 64 && qRed(p) - qBlue(p) > 64;
}

#ifdef _WIN32
// Answers the next system dialog (a dialog box, #32770) with `answer`, given its window, from a
// timer that its modal loop runs.
void answersystem(std::function<void(HWND)> answer) {
    auto* timer = new QTimer(qApp);
    QObject::connect(timer, &QTimer::timeout, [timer, answer] {
        HWND dialog = nullptr;
        while ((dialog = FindWindowExW(nullptr, dialog, L"#32770", nullptr)) != nullptr) {
            if (IsWindowVisible(dialog)) {
                delete timer;
                return answer(dialog);
            }
        }
    });
    timer->start(50);
}

// The last folder Qt's file dialogs keep for the user; empty when they keep none.
QString qtlastvisited() {
    wchar_t folder[1024] = {};
    DWORD size = sizeof folder;
    RegGetValueW(HKEY_CURRENT_USER, L"Software\\QtProject\\OrganizationDefaults\\FileDialog",
                 L"lastVisited", RRF_RT_REG_SZ, nullptr, folder, &size);
    return QString::fromWCharArray(folder);
}
#endif

}  // namespace

class WindowViewTest : public QObject, windowtest::Fixture {
    Q_OBJECT

private:
    // Whether the scroll bar's thumb has the style's least length.
    bool thumbisleast() {
        QStyleOptionSlider option;
        option.initFrom(form->sbv);
        option.orientation = Qt::Vertical;
        option.subControls = QStyle::SC_All;
        option.minimum = form->sbv->minimum();
        option.maximum = form->sbv->maximum();
        option.sliderPosition = option.sliderValue = form->sbv->value();
        option.singleStep = form->sbv->singleStep();
        option.pageStep = form->sbv->pageStep();
        const QStyle* style = form->sbv->style();
        const QRect thumb = style->subControlRect(QStyle::CC_ScrollBar, &option,
                                                  QStyle::SC_ScrollBarSlider, form->sbv);
        return thumb.height() ==
               style->pixelMetric(QStyle::PM_ScrollBarSliderMin, &option, form->sbv);
    }

    // Resizes the client area of the shown window and waits until the grid followed.
    bool resizeclient(int width, int height) {
        if (!windowtest::resizewindow(form, QSize(width, height))) {
            return false;
        }
        const QSize expected = form->size();
        return QTest::qWaitFor(
            [&] { return form->Image1->geometry() == windowtest::gridrect(expected); });
    }

    const QImage& picture() const { return form->Image1->picture(); }

    // The Save command, or Open.
    static auto command(bool save) { return save ? &TForm1::Button3Click : &TForm1::Button1Click; }

    // The panels side by side, 17 high: the size panel at least 120 wide and wide enough to show
    // the largest size's text whole, the address panel 120 wide, then the last one, which is
    // `lastwidth` wide when the size panel is 120 and narrower by what that one grew.
    void checkpanels(int lastwidth) const {
        const QLabel* size = form->panels[0];
        const int text =
            size->fontMetrics().horizontalAdvance(QStringLiteral("size:2147483647bytes"));
        QVERIFY2(
            size->contentsRect().width() - 2 * size->margin() >= text,
            qPrintable(QStringLiteral("%1 wide for a text of %2").arg(size->width()).arg(text)));
        QVERIFY(size->width() >= 120);
        const int widened = size->width() - 120;
        QCOMPARE(size->geometry(), QRect(0, 0, 120 + widened, 17));
        QCOMPARE(form->panels[1]->geometry(), QRect(120 + widened, 0, 120, 17));
        QCOMPARE(form->panels[2]->geometry(),
                 QRect(240 + widened, 0, std::max(0, lastwidth - widened), 17));
    }

private slots:
    void init() { QVERIFY(startwindow(windowtest::Start::hidden)); }
    void cleanup() { endwindow(); }

    void startState() {
        QCOMPARE(form->minimumSize(), windowtest::kDesignSize);
        QCOMPARE(form->windowTitle(), QStringLiteral("Tessarin"));
        QCOMPARE(form->Button1->text(), QStringLiteral("&Open"));
        QCOMPARE(form->Button2->text(), QStringLiteral("&Font"));
        QCOMPARE(form->Button3->text(), QStringLiteral("&Save"));
        QCOMPARE(form->GroupBox1->title(), QStringLiteral("Mode"));
        QCOMPARE(form->rb_mdASCII->text(), QStringLiteral("ASCII"));
        QCOMPARE(form->rb_mbHEX->text(), QStringLiteral("Hex."));
        QCOMPARE(form->rb_mbbin->text(), QStringLiteral("Bin."));
        QCOMPARE(form->rb_mbdec->text(), QStringLiteral("Dec."));
        QVERIFY(form->rb_mdASCII->isChecked());
        QVERIFY(!form->rb_mbHEX->isChecked() && !form->rb_mbbin->isChecked() &&
                !form->rb_mbdec->isChecked());
        QVERIFY(form->cbc->isHidden());
        QCOMPARE(form->topaddr(), qint64(0));
        QCOMPARE(form->selpos(), 0);
        QCOMPARE(form->sbv->minimum(), 0);
        QCOMPARE(form->sbv->maximum(), 0);
        QCOMPARE(form->sbv->focusPolicy(), Qt::StrongFocus);
        // The empty document: the end marker alone (the layout at this size is resizeLayout's).
        QVERIFY(!inkbox(picture(), cellrect(0, 2), reddominant).isEmpty());
        QVERIFY(cellrect(0, 2).contains(inkbox(picture(), {}, windowtest::isink)));
    }

    void resizeLayout_data() {
        QTest::addColumn<QSize>("request");
        QTest::addColumn<QSize>("client");
        QTest::addColumn<QRect>("scrollbar");
        QTest::addColumn<int>("buttonsx");
        QTest::addColumn<QRect>("statusbar");
        QTest::addColumn<int>("lastpanelwidth");
        QTest::addColumn<int>("cols");
        // The window as made, hidden, at its design size.
        QTest::newRow("as made") << QSize() << QSize(292, 273) << QRect(173, 8, 17, 244) << 197
                                 << QRect(0, 256, 292, 17) << 52 << 2;
        QTest::newRow("wider by 5: grid 170 wide")
            << QSize(297, 273) << QSize(297, 273) << QRect(178, 8, 17, 244) << 202
            << QRect(0, 256, 297, 17) << 57 << 3;
        QTest::newRow("wider by 4: grid 169 wide")
            << QSize(296, 273) << QSize(296, 273) << QRect(177, 8, 17, 244) << 201
            << QRect(0, 256, 296, 17) << 56 << 2;
        QTest::newRow("large") << QSize(500, 400) << QSize(500, 400) << QRect(381, 8, 17, 371)
                               << 405 << QRect(0, 383, 500, 17) << 260 << 7;
        QTest::newRow("taller only") << QSize(292, 300) << QSize(292, 300) << QRect(173, 8, 17, 271)
                                     << 197 << QRect(0, 283, 292, 17) << 52 << 2;
        QTest::newRow("below the minimum")
            << QSize(200, 100) << QSize(292, 273) << QRect(173, 8, 17, 244) << 197
            << QRect(0, 256, 292, 17) << 52 << 2;
    }

    void resizeLayout() {
        QFETCH(QSize, request);
        QFETCH(QSize, client);
        QFETCH(QRect, scrollbar);
        QFETCH(int, buttonsx);
        QFETCH(QRect, statusbar);
        QFETCH(int, lastpanelwidth);
        QFETCH(int, cols);
        const QRect image = windowtest::gridrect(client);
        if (request.isValid()) {
            QVERIFY(showform());
            // Away from the design size first, so that every row really resizes.
            QVERIFY(resizeclient(640, 480));
            QVERIFY(resizeclient(request.width(), request.height()));
        }
        QCOMPARE(form->size(), client);
        QCOMPARE(form->Image1->geometry(), image);
        QCOMPARE(form->sbv->geometry(), scrollbar);
        QCOMPARE(form->Button1->geometry(), QRect(buttonsx, 8, 89, 25));
        QCOMPARE(form->Button2->pos(), QPoint(buttonsx, 40));
        QCOMPARE(form->Button3->pos(), QPoint(buttonsx, 72));
        QCOMPARE(form->GroupBox1->geometry(), QRect(buttonsx, 104, 89, 89));
        QCOMPARE(form->StatusBar1->geometry(), statusbar);
        checkpanels(lastpanelwidth);
        QCOMPARE(form->cols(), cols);
        // The picture is remade at the grid's new size.
        QCOMPARE(picture().deviceIndependentSize().toSize(), image.size());
    }

    // The window hands the painter its document, mode and scroll position: each whole row in
    // sight shows its bytes in their class colours and the end marker after the last one. A byte of
    // each class in each mode, and the marker in the last whole row, out of sight and scrolled into
    // it; gridpaint_test checks every byte, textout_test where the marker lies in a view.
    void gridShowsDocument_data() {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("position");
        for (int mode = 0; mode < 4; ++mode) {
            windowtest::moderow(mode) << QByteArray("\n\0A\xFF", 4) << 0;
        }
        windowtest::moderow(0, ", 22 bytes: last whole row") << QByteArray(22, 'A') << 0;
        windowtest::moderow(0, ", 24 bytes fill every cell") << QByteArray(24, 'A') << 0;
        windowtest::moderow(0, ", 24 bytes, one row down") << QByteArray(24, 'A') << 1;
    }

    void gridShowsDocument() {
        QFETCH(int, mode);
        QFETCH(QByteArray, bytes);
        QFETCH(int, position);
        QRadioButton* const button = windowtest::modebutton(form, mode);
        button->click();
        QVERIFY(button->isChecked());
        windowtest::solidfont(form);
        setdocument(form, bytes);
        form->sbv->setValue(position);
        QCOMPARE(form->sbv->value(), position);
        const QString fault = windowtest::gridfault(form);
        QVERIFY2(fault.isEmpty(), qPrintable(fault));
        // Nothing below the whole rows; a binary label may run into the margin beside them.
        QVERIFY(QRect(0, 0, form->Image1->width(), 12 * kCellH)
                    .contains(inkbox(picture(), {}, windowtest::isink)));
    }

    // A switch of mode draws the grid anew in that mode, a click on the checked mode's button
    // draws nothing, and back in ASCII the grid is what it was.
    void modeSwitchRedraws_data() {
        QTest::addColumn<int>("mode");
        for (int mode = 1; mode < 4; ++mode) {
            windowtest::moderow(mode);
        }
    }

    void modeSwitchRedraws() {
        QFETCH(int, mode);
        QRadioButton* const button = windowtest::modebutton(form, mode);
        setdocument(form, {'A', 'B', 'C'});
        QVERIFY(showform());
        const QImage ascii = picture();
        QTest::mouseClick(form->rb_mdASCII, Qt::LeftButton);
        form->rb_mdASCII->click();
        QCOMPARE(picture().cacheKey(), ascii.cacheKey());
        QTest::mouseClick(button, Qt::LeftButton);
        QVERIFY(button->isChecked());
        QCOMPARE(int(form->dispmode()), mode);
        const qint64 key = picture().cacheKey();
        QVERIFY(key != ascii.cacheKey());
        QVERIFY(picture() != ascii);
        QTest::mouseClick(button, Qt::LeftButton);
        button->click();
        QVERIFY(button->isChecked());
        QCOMPARE(picture().cacheKey(), key);
        QTest::mouseClick(form->rb_mdASCII, Qt::LeftButton);
        QVERIFY(form->rb_mdASCII->isChecked());
        QCOMPARE(picture(), ascii);
    }

    void scrollingSetsTopaddr() {
        setdocument(form, Bytes(100, 'x'));
        form->cbc->show();
        const qint64 key = picture().cacheKey();
        QSignalSpy moved(form->sbv, &QScrollBar::valueChanged);
        form->sbv->setValue(7);
        QCOMPARE(moved.count(), 1);
        QCOMPARE(form->topaddr(), qint64(14));
        QVERIFY(picture().cacheKey() != key);
        QVERIFY(form->cbc->isHidden());
    }

    // Widening to 3 columns, from a scroll position past the new maximum or within it; then back
    // to 2 columns, or one step down.
    void wideningKeepsOrClampsTopaddr_data() {
        QTest::addColumn<int>("position");
        QTest::addColumn<int>("widened");  // the position at 3 columns
        QTest::addColumn<qint64>("widenedtop");
        QTest::addColumn<int>("widenedmoves");
        QTest::addColumn<bool>("narrowafter");  // false: a single step down
        QTest::addColumn<int>("maximum");       // then
        QTest::addColumn<int>("after");
        QTest::addColumn<qint64>("aftertop");
        QTest::addColumn<int>("aftermoves");
        // Clamped to the new maximum; narrowing back raises the maximum and scrolls nothing.
        QTest::newRow("narrowingScrolledPastNewMaximumClamps")
            << 50 << 33 << qint64(99) << 1 << true << 50 << 33 << qint64(99) << 1;
        QTest::newRow("wideningKeepsTopaddr")
            << 5 << 5 << qint64(10) << 0 << false << 33 << 6 << qint64(18) << 1;
    }

    void wideningKeepsOrClampsTopaddr() {
        QFETCH(int, position);
        QFETCH(int, widened);
        QFETCH(qint64, widenedtop);
        QFETCH(int, widenedmoves);
        QFETCH(bool, narrowafter);
        QFETCH(int, maximum);
        QFETCH(int, after);
        QFETCH(qint64, aftertop);
        QFETCH(int, aftermoves);
        setdocument(form, Bytes(100, 'x'));
        QVERIFY(showform());
        form->sbv->setValue(position);
        QCOMPARE(form->topaddr(), qint64(position) * 2);
        QSignalSpy moved(form->sbv, &QScrollBar::valueChanged);
        QVERIFY(resizeclient(342, 273));
        QCOMPARE(form->cols(), 3);
        QCOMPARE(form->sbv->maximum(), 33);
        QCOMPARE(form->sbv->value(), widened);
        QCOMPARE(form->topaddr(), widenedtop);
        QCOMPARE(moved.count(), widenedmoves);
        if (narrowafter) {
            QVERIFY(resizeclient(292, 273));
        } else {
            form->sbv->triggerAction(QAbstractSlider::SliderSingleStepAdd);
        }
        QCOMPARE(form->cols(), narrowafter ? 2 : 3);
        QCOMPARE(form->sbv->maximum(), maximum);
        QCOMPARE(form->sbv->value(), after);
        QCOMPARE(form->topaddr(), aftertop);
        QCOMPARE(moved.count(), aftermoves);
    }

    void openLoadsFile() {
        setdocument(form, Bytes(2000, 'x'));
        form->Image1Click(QPoint(60, 45));  // byte 5, in the third row
        QCOMPARE(form->selpos(), 5);
        form->sbv->setValue(10);
        form->cbc->show();
        const qint64 key = picture().cacheKey();
        const Bytes content = testutil::randombytes(1, 1024);
        const QString path = scratchfile("kilo.bin", content);
        windowtest::choosefile(path);
        QTest::mouseClick(form->Button1, Qt::LeftButton);
        QVERIFY(form->bindata() == content);
        QCOMPARE(form->windowTitle(),
                 QStringLiteral("Tessarin - ") + QDir::toNativeSeparators(path));
        QCOMPARE(form->panels[0]->text(), QStringLiteral("size:1024bytes"));
        QCOMPARE(form->sbv->maximum(), 512);
        QCOMPARE(form->sbv->pageStep(), 2);
        QCOMPARE(form->sbv->value(), 10);
        QCOMPARE(form->topaddr(), qint64(20));
        QCOMPARE(form->selpos(), 5);
        QVERIFY(form->cbc->isHidden());
        QVERIFY(picture().cacheKey() != key);
        QVERIFY(!picture().isNull());
    }

    // Cancel in the Open, Font or Save dialog changes nothing, and draws nothing anew.
    void cancelledDialogChangesNothing_data() {
        QTest::addColumn<int>("button");  // its number: Button1 (Open), 2 (Font), 3 (Save)
        QTest::newRow("Open") << 1;
        QTest::newRow("Font") << 2;
        QTest::newRow("Save") << 3;
    }

    void cancelledDialogChangesNothing() {
        QFETCH(int, button);
        setdocument(form, {'a', 'b', 'c'});
        const QVariantList before = windowtest::snapshot(form);
        const QFont font = form->gridfont();
        const qint64 key = picture().cacheKey();
        windowtest::closenext();
        (form->*std::array{&TForm1::Button1Click, &TForm1::Button2Click,
                           &TForm1::Button3Click}[button - 1])();
        QCOMPARE(windowtest::snapshot(form), before);
        QCOMPARE(form->gridfont(), font);
        QCOMPARE(picture().cacheKey(), key);
    }

    void openEmptyFile() {
        windowtest::solidfont(form);
        setdocument(form, Bytes(100, 'x'));
        const QString path = scratchfile("empty.bin", "");
        open(path);
        QVERIFY(form->bindata().empty());
        QCOMPARE(form->panels[0]->text(), QStringLiteral("size:0bytes"));
        QCOMPARE(form->sbv->maximum(), 0);
        QCOMPARE(form->topaddr(), qint64(0));
        QVERIFY(!inkbox(picture(), cellrect(0, 2), kRed).isEmpty());
        QVERIFY(cellrect(0, 2).contains(inkbox(picture(), {}, windowtest::isink)));
    }

    void openShorterFileClamps() {
        setdocument(form, Bytes(100, 'x'));
        form->sbv->setValue(40);
        QCOMPARE(form->topaddr(), qint64(80));
        const QString path = scratchfile("short.bin", QByteArray(24, 'y'));
        QSignalSpy moved(form->sbv, &QScrollBar::valueChanged);
        open(path);
        QCOMPARE(form->sbv->maximum(), 12);
        QCOMPARE(form->sbv->value(), 12);
        QCOMPARE(form->topaddr(), qint64(24));
        QCOMPARE(moved.count(), 1);
    }

    void topaddrBeyondEndDrawsNothing() {
        setdocument(form, Bytes(100, 'x'));
        QVERIFY(showform());
        QVERIFY(resizeclient(342, 273));
        form->sbv->setValue(30);
        QCOMPARE(form->topaddr(), qint64(90));
        QVERIFY(resizeclient(292, 273));
        QCOMPARE(form->topaddr(), qint64(90));
        QCOMPARE(form->sbv->value(), 30);
        // 61 bytes: maximum 30, still the position, so nothing scrolls.
        open(scratchfile("shorter.bin", QByteArray(61, 'y')));
        QCOMPARE(form->bindata().size(), std::size_t(61));
        QCOMPARE(form->sbv->maximum(), 30);
        QCOMPARE(form->topaddr(), qint64(90));
        const QImage& image = picture();
        QVERIFY(!image.isNull());
        QCOMPARE(coloursin(image), QSet{kWhite});
    }

    void pointerAddress_data() {
        QTest::addColumn<int>("length");
        QTest::addColumn<int>("position");
        QTest::addColumn<QPoint>("point");
        QTest::addColumn<QString>("panel");
        // Every row first points at the second visible cell; "Addr.:1" (or the value there) is
        // what an ignored point leaves. The cell under a point is textout's (textout_test); here
        // the window's pixels, scroll position and document end reach it.
        QTest::newRow("offset 31") << 100 << 10 << QPoint(75, 110) << "Addr.:1F";
        QTest::newRow("top-left after scrolling") << 100 << 10 << QPoint(1, 1) << "Addr.:14";
        QTest::newRow("last pixel of cell 0") << 100 << 0 << QPoint(49, 19) << "Addr.:0";
        QTest::newRow("left edge of cell 3") << 100 << 0 << QPoint(50, 20) << "Addr.:3";
        QTest::newRow("right margin") << 100 << 0 << QPoint(100, 20) << "Addr.:1";
        QTest::newRow("last byte") << 5 << 0 << QPoint(25, 45) << "Addr.:4";
        QTest::newRow("end marker cell") << 5 << 0 << QPoint(75, 45) << "Addr.:1";
        QTest::newRow("blank cell") << 5 << 0 << QPoint(25, 65) << "Addr.:1";
        QTest::newRow("strip below the last row") << 100 << 0 << QPoint(10, 242) << "Addr.:18";
        QTest::newRow("strip past the end") << 24 << 0 << QPoint(10, 242) << "Addr.:1";
    }

    void pointerAddress() {
        QFETCH(int, length);
        QFETCH(int, position);
        QFETCH(QPoint, point);
        QFETCH(QString, panel);
        setdocument(form, Bytes(std::size_t(length), 'x'));
        form->sbv->setValue(position);
        QVERIFY(showform());
        QCOMPARE(form->panels[1]->text(), QString());
        // Through the window: QTest moves a widget's pointer by moving the real one, which a real
        // X server reports later.
        QTest::mouseMove(form->windowHandle(), form->Image1->mapTo(form, QPoint(60, 5)));
        QCOMPARE(form->panels[1]->text(),
                 position == 0 ? QStringLiteral("Addr.:1") : QStringLiteral("Addr.:15"));
        QTest::mouseMove(form->windowHandle(), form->Image1->mapTo(form, point));
        QCOMPARE(form->panels[1]->text(), panel);
    }

    void addressKeptAfterOpen() {
        setdocument(form, Bytes(100, 'x'));
        form->Image1MouseMove(QPoint(75, 0));
        QCOMPARE(form->panels[1]->text(), QStringLiteral("Addr.:1"));
        open(scratchfile("other.bin", QByteArray(3, 'z')));
        QCOMPARE(form->bindata().size(), std::size_t(3));
        QCOMPARE(form->panels[1]->text(), QStringLiteral("Addr.:1"));
        // Past the new end: still the old text.
        form->Image1MouseMove(QPoint(75, 20));
        QCOMPARE(form->panels[1]->text(), QStringLiteral("Addr.:1"));
        form->Image1MouseMove(QPoint(25, 0));
        QCOMPARE(form->panels[1]->text(), QStringLiteral("Addr.:0"));
    }

    // A name typed into the Open or Save dialog and Enter: nothing of the dialog stays on the
    // screen, and the next click acts.
    void typedNameLeavesNoPopup_data() {
        QTest::addColumn<bool>("save");
        QTest::addColumn<bool>("folder");  // a folder's name: Enter enters it
        QTest::newRow("Open") << false << false;
        QTest::newRow("Save") << true << false;
        QTest::newRow("Open, a folder") << false << true;
        QTest::newRow("Save, a folder") << true << true;
    }

    void typedNameLeavesNoPopup() {
        QFETCH(bool, save);
        QFETCH(bool, folder);
        QVERIFY(showform());
        const QString opened = scratchfile("typed.bin", "0123456789");
        if (save) {
            open(opened);
        }
        QVERIFY(QDir(scratch()).mkdir(QStringLiteral("adir")));
        scratchfile("adir/inside.bin", "012");
        // A new name that begins an existing one keeps the list up until Enter.
        const QString path = folder ? filepath("adir") : save ? filepath("typed") : opened;
        const auto typed = windowtest::typefile(path);
        (form->*command(save))();
        QCOMPARE(typed->text, path);
        QVERIFY2(typed->popped, "the completion list never came up");
        QCOMPARE(typed->accepted, !folder);
        if (folder) {
            // In the folder, with an empty name field and no list left.
            QCOMPARE(typed->folder, path);
            QCOMPARE(typed->after, QString());
            QVERIFY(!typed->poppedafter);
        } else {
            QVERIFY(QFileInfo::exists(path));
        }
        QCOMPARE(form->windowTitle(),
                 save     ? QStringLiteral("Tessarin - ") + QDir::toNativeSeparators(opened)
                 : folder ? QStringLiteral("Tessarin")
                          : QStringLiteral("Tessarin - ") + QDir::toNativeSeparators(opened));

        QCOMPARE(QApplication::activePopupWidget(), nullptr);
        const QPoint hex = form->rb_mbHEX->mapTo(form, form->rb_mbHEX->rect().center());
        QTest::mouseClick(form->windowHandle(), Qt::LeftButton, {}, hex);
        QVERIFY(form->rb_mbHEX->isChecked());
    }

    // The Open and Save dialogs tell the entries they list from their names: they never read a
    // file, whose read might block the window for good (/proc/kmsg, for root).
    void dialogsReadNoListedFile_data() { windowtest::addflagrows("save", "Open", "Save"); }

    void dialogsReadNoListedFile() {
#ifdef _WIN32
        QSKIP("the system calls of Qt's dialogs are watched through Linux's seccomp");
#else
        QFETCH(bool, save);
        windowtest::Lookups* const lookups = windowtest::lookups();
        QVERIFY2(lookups, "the system lets no process watch its calls (seccomp)");
        QVERIFY(showform());
        const QStringList names = {QStringLiteral("kmsg"), QStringLiteral("data"),
                                   QStringLiteral("notes.txt"), QStringLiteral("picture.png")};
        for (const QString& name : names) {
            scratchfile(name, QByteArray("\x89PNG\r\n\x1a\n plain text", 18));
        }
        // Where a look-up by the bare name would find them too.
        const QString working = QDir::currentPath();
        const auto back = qScopeGuard([&] { QDir::setCurrent(working); });
        QVERIFY(QDir::setCurrent(scratch()));
        lookups->opened.clear();
        lookups->looked.clear();
        lookups->recording = true;
        int listed = 0;
        windowtest::answernext<QFileDialog>([&](QFileDialog* dialog) {
            auto* model = dialog->findChild<QFileSystemModel*>();
            if (model == nullptr) {
                return;
            }
            dialog->setDirectory(scratch());
            // Every entry listed, with the icon and the type the dialog shows for it.
            (void)QTest::qWaitFor(
                [&] { return model->rowCount(model->index(scratch())) == names.size(); }, 30000);
            for (const QString& name : names) {
                const QModelIndex entry = model->index(filepath(name));
                listed += !model->data(entry, Qt::DecorationRole).isNull() &&
                          !model->data(entry.siblingAtColumn(2)).toString().isEmpty();
            }
            (void)dialog->grab();
        });
        (form->*command(save))();
        lookups->recording = false;
        QCOMPARE(listed, names.size());
        const std::lock_guard lock(lookups->mutex);
        QVERIFY(!lookups->opened.isEmpty());
        for (const QString& name : names) {
            for (const QString& path : {filepath(name), name}) {
                QVERIFY2(!lookups->opened.contains(path), qPrintable(path + " was opened"));
                QVERIFY2(!lookups->looked.contains(path), qPrintable(path + " was looked up"));
            }
        }
#endif
    }

    // A dialog that is not on the screen watches no folder, whatever other programs do there;
    // shown again, it lists what changed meanwhile, and watches its folder.
    void hiddenDialogWatchesNothing_data() {
        windowtest::addflagrows("save", "Open", "Save");
    }

    void hiddenDialogWatchesNothing() {
#ifdef _WIN32
        QSKIP("Windows lists no process's folder watches, as Linux's /proc/self/fdinfo does");
#else
        QFETCH(bool, save);
        // Both dialogs start here.
        QVERIFY(QDir::setCurrent(scratch()));
        newwindow();
        QVERIFY(showform());
        const QString first = scratchfile(QStringLiteral("first.bin"), QByteArray("\0\1\2", 3));
        QVERIFY(
            !run(command(save), save ? filepath(QStringLiteral("saved.bin")) : first).box.shown);
        QVERIFY(!windowtest::watched(scratch()));
        for (int i = 0; i < 20; ++i) {
            scratchfile(QStringLiteral("new%1").arg(i), "x");
        }
        const int entries = save ? 22 : 21;
        int listed = 0;
        bool watching = false;
        windowtest::answernext<QFileDialog>([&](QFileDialog* dialog) {
            auto* model = dialog->findChild<QFileSystemModel*>();
            const QModelIndex folder = model->index(scratch());
            (void)QTest::qWaitFor([&] { return model->rowCount(folder) == entries; }, 30000);
            listed = model->rowCount(folder);
            watching = windowtest::watched(scratch());
        });
        (form->*command(save))();
        QCOMPARE(listed, entries);
        QVERIFY(watching);
        QVERIFY(!windowtest::watched(scratch()));
#endif
    }

    // A dialog first used after the other one chose a file elsewhere starts where both started.
    // Each file dialog starts in the folder last visited in either, and offers the last name
    // chosen in itself; a dialog that offers a name starts in that name's folder, where Enter
    // chooses that file again.
    void dialogStartsWhereEitherWasLast_data() {
        QTest::addColumn<bool>("save");
        QTest::addColumn<bool>("remembered");  // the dialog chose a file in the start folder before
        QTest::newRow("Open after a Save") << false << false;
        QTest::newRow("Save after an Open") << true << false;
        QTest::newRow("Open with a remembered name, after a Save") << false << true;
        QTest::newRow("Save with a remembered name, after an Open") << true << true;
    }

    void dialogStartsWhereEitherWasLast() {
        QFETCH(bool, save);
        QFETCH(bool, remembered);
        const QString start = QDir(scratch()).absolutePath();
        QVERIFY(QDir::setCurrent(start));
        newwindow();
        QVERIFY(showform());
        const QString mine = filepath(QStringLiteral("mine.bin"));
        if (remembered) {
            testutil::writefile(mine, "cd");
            QVERIFY(
                !run(command(save), save ? filepath(QStringLiteral("mine2.bin")) : mine).box.shown);
        }
        const QString elsewhere = filepath(QStringLiteral("elsewhere"));
        QVERIFY(QDir().mkdir(elsewhere));
        testutil::writefile(elsewhere + QStringLiteral("/old"), "ab");
        const QString name = save ? QStringLiteral("old") : QStringLiteral("new");
        QVERIFY(!run(command(!save), elsewhere + '/' + name).box.shown);
        QCOMPARE(QDir::currentPath(), elsewhere);
        // The other dialog starts there, or where its own name is; the user goes back to the
        // start and cancels, or takes the name offered. The first dialog then goes back to its
        // own name's folder.
        QString started;
        QStringList chosen;
        windowtest::answernext<QFileDialog>([&](QFileDialog* dialog) {
            started = dialog->directory().absolutePath();
            if (remembered) {
                static_cast<QDialog*>(dialog)->accept();
                chosen = dialog->selectedFiles();
            } else {
                dialog->setDirectory(start);
            }
        });
        // Save refuses its own file again.
        act([&] { (form->*command(save))(); });
        QCOMPARE(started, remembered ? start : elsewhere);
        if (remembered) {
            QCOMPARE(chosen, QStringList{save ? filepath(QStringLiteral("mine2.bin")) : mine});
            return;
        }
        QString offered;
        windowtest::answernext<QFileDialog>([&](QFileDialog* dialog) {
            started = dialog->directory().absolutePath();
            offered = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->text();
        });
        (form->*command(!save))();
        QCOMPARE(started, elsewhere);
        QCOMPARE(offered, name);
    }

    void fontDialog_data() {
        QTest::addColumn<int>("points");  // 0: OK on the dialog as it starts
        // The grid font's pixels at 90, 96 and 120 dpi: points * dpi / 72, to the nearest.
        QTest::addColumn<QList<int>>("pixels");
        QTest::newRow("as it starts") << 0 << QList<int>{12, 12, 12};
        QTest::newRow("9 pt") << 9 << QList<int>{11, 12, 15};
        QTest::newRow("11 pt, 14.67 px at 96 dpi") << 11 << QList<int>{14, 15, 18};
        QTest::newRow("12 pt") << 12 << QList<int>{15, 16, 20};
        QTest::newRow("18 pt, 22.5 px at 90 dpi") << 18 << QList<int>{23, 24, 30};
    }

    void fontDialog() {
        QFETCH(int, points);
        QFETCH(QList<int>, pixels);
        const int dpi = form->logicalDpiY();
        const bool at96 = dpi == 96;
        const qsizetype column = QList<int>{90, 96, 120}.indexOf(dpi);
        if (column < 0) {
            QSKIP("pixel sizes are given for 90, 96 and 120 dpi");
        }
        const QString family = QStringLiteral("DejaVu Sans");
        if (!QFontDatabase::families().contains(family)) {
            QSKIP("DejaVu Sans is not installed");
        }
        setdocument(form, {'A', 'B', 'C'});
        // The family the grid font resolved to: its first family may not be installed.
        const QString drawn = QFontInfo(form->gridfont()).family();
        QVERIFY(drawn != family);
        const QImage before = picture();
        const QFont fontbefore = form->gridfont();
        QFont started;
        // Qt's dialog crashes on a family listed without a style (Wine's "MS Shell Dlg").
        QStringList styleless;
        windowtest::answernext<QFontDialog>([&](QFontDialog* dialog) {
            started = dialog->currentFont();
            const auto* families = dialog->findChild<QListView*>()->model();
            for (int row = 0; row < families->rowCount(); ++row) {
                const QString listed = families->index(row, 0).data().toString();
                if (QFontDatabase::styles(listed).isEmpty()) {
                    styleless << listed;
                }
            }
            if (points > 0) {
                dialog->setCurrentFont(QFont(family, points));
            }
            dialog->accept();
        });
        QTest::mouseClick(form->Button2, Qt::LeftButton);
        QCOMPARE(styleless, QStringList());
        QCOMPARE(started.family(), drawn);
        if (at96) {
            QCOMPARE(started.pointSize(), 9);
        }
        if (points > 0) {
            QCOMPARE(form->gridfont().family(), family);
        } else {
            QCOMPARE(form->gridfont(), fontbefore);
        }
        QCOMPARE(form->gridfont().pixelSize(), pixels[column]);
        QCOMPARE(form->cols(), 2);
        // OK redraws, and the byte editor takes the grid font, a change or not.
        QVERIFY(picture().cacheKey() != before.cacheKey());
        QCOMPARE(picture() == before, points == 0);
        QVERIFY(form->cbc->testAttribute(Qt::WA_SetFont));
        QCOMPARE(form->cbc->font(), form->gridfont());
    }

    // What the dialogs remember lasts for the run: Open, Save and Font write none of the user's
    // settings, and Windows's own dialogs have the system's titles and set the grid font.
    void dialogsKeepNothing() {
        const QString opened = scratchfile(QStringLiteral("a.bin"), "AB");
#ifdef _WIN32
        const QString saved = filepath(QStringLiteral("b.bin"));
        const QString before = qtlastvisited();
        QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs, false);
        const auto widgets =
            qScopeGuard([] { QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs); });
        // Each file dialog has a title, the system's.
        const auto typein = [](const QString& path) {
            return [path = QDir::toNativeSeparators(path)](HWND dialog) {
                QVERIFY(GetWindowTextLengthW(dialog) > 0);
                SetWindowTextW(FindWindowExW(dialog, nullptr, L"Edit", nullptr),
                               reinterpret_cast<const wchar_t*>(path.utf16()));
                PostMessageW(dialog, WM_COMMAND, IDOK, 0);
            };
        };
        answersystem(typein(opened));
        form->Button1Click();
        answersystem(typein(saved));
        form->Button3Click();
        QCOMPARE(testutil::readfile<QByteArray>(saved), QByteArray("AB"));
        // The font dialog's size list (cmb3): 18 points chosen, then a Cancel.
        answersystem([](HWND dialog) {
            HWND sizes = GetDlgItem(dialog, 0x472);
            SendMessageW(sizes, CB_SELECTSTRING, WPARAM(-1), LPARAM(L"18"));
            SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(0x472, CBN_SELCHANGE), LPARAM(sizes));
            PostMessageW(dialog, WM_COMMAND, IDOK, 0);
        });
        form->Button2Click();
        QCOMPARE(form->gridfont().pixelSize(), qRound(18 * form->logicalDpiY() / 72.0));
        const QFont chosen = form->gridfont();
        answersystem([](HWND dialog) { PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0); });
        form->Button2Click();
        QCOMPARE(form->gridfont(), chosen);
        newwindow();
        QCOMPARE(qtlastvisited(), before);
#else
        // Both file dialogs are made at the first use of either.
        QVERIFY(!run(&TForm1::Button1Click, opened).box.shown);
        windowtest::answernext<QFontDialog>([](QFontDialog* dialog) { dialog->accept(); });
        form->Button2Click();
        // Qt's dialogs write what they remember when they are deleted, with the window.
        newwindow();
        QCOMPARE(QDir(windowtest::settingsfolder.path())
                     .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList());
#endif
    }

    // The wheel over the grid or over the byte editor scrolls the grid, by one signal, and picks
    // no value.
    void wheelScrollsGrid_data() {
        windowtest::addflagrows("editor", "over the grid", "over the byte editor");
    }

    void wheelScrollsGrid() {
        QFETCH(bool, editor);
        setdocument(form, Bytes(100, 'x'));
        QVERIFY(showform());
        form->Image1Click(QPoint(10, 5));
        QVERIFY(form->cbc->isVisible());
        QWidget* const under = editor ? static_cast<QWidget*>(form->cbc) : form->Image1;
        QSignalSpy picks(form->cbc, &QComboBox::activated);
        QSignalSpy moved(form->sbv, &QScrollBar::valueChanged);
        QWheelEvent wheel(QPointF(20, 10), under->mapToGlobal(QPointF(20, 10)), QPoint(),
                          QPoint(0, -120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(under, &wheel);
        QVERIFY(form->sbv->value() > 0);
        QCOMPARE(moved.count(), 1);
        QCOMPARE(form->topaddr(), qint64(2) * form->sbv->value());
        QCOMPARE(picks.count(), 0);
        QVERIFY(form->bindata() == Bytes(100, 'x'));
        QVERIFY(form->cbc->isHidden());
    }

    // Tab reaches the scroll bar after the mode buttons, and it shows that it has the focus.
    void tabShowsFocusOnScrollBar() {
        setdocument(form, Bytes(100, 'x'));
        QVERIFY(showform());
        form->activateWindow();
        QVERIFY(windowtest::waitforkeyboard(form->windowHandle()));
        const QImage unfocused = form->sbv->grab().toImage();
        form->rb_mbdec->setFocus(Qt::TabFocusReason);
        QTest::keyClick(form->windowHandle(), Qt::Key_Tab);
        QVERIFY(form->sbv->hasFocus());
        QVERIFY(form->sbv->grab().toImage() != unfocused);
    }

    void keysOnScrollBar_data() {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("value");
        QTest::addColumn<qint64>("topaddr");
        QTest::newRow("Home") << 292 << int(Qt::Key_Home) << 0 << qint64(0);
        QTest::newRow("End") << 292 << int(Qt::Key_End) << 50 << qint64(100);
        QTest::newRow("PageDown, 2 columns") << 292 << int(Qt::Key_PageDown) << 7 << qint64(14);
        QTest::newRow("PageDown, 3 columns") << 342 << int(Qt::Key_PageDown) << 8 << qint64(24);
        QTest::newRow("PageUp, 3 columns") << 342 << int(Qt::Key_PageUp) << 2 << qint64(6);
        QTest::newRow("End, 3 columns") << 342 << int(Qt::Key_End) << 33 << qint64(99);
        // A row at a time, Right and Left as Down and Up.
        QTest::newRow("Down") << 292 << int(Qt::Key_Down) << 6 << qint64(12);
        QTest::newRow("Right") << 292 << int(Qt::Key_Right) << 6 << qint64(12);
        QTest::newRow("Up") << 292 << int(Qt::Key_Up) << 4 << qint64(8);
        QTest::newRow("Left") << 292 << int(Qt::Key_Left) << 4 << qint64(8);
    }

    void keysOnScrollBar() {
        QFETCH(int, width);
        QFETCH(int, key);
        QFETCH(int, value);
        QFETCH(qint64, topaddr);
        setdocument(form, Bytes(100, 'x'));
        QVERIFY(showform());
        QVERIFY(resizeclient(width, 273));
        form->sbv->setValue(5);
        QTest::keyClick(form->sbv, Qt::Key(key));
        QCOMPARE(form->sbv->value(), value);
        QCOMPARE(form->topaddr(), topaddr);
        // The thumb has the style's least length at any range, though the page step moves a
        // screen: here, and for a file of a few rows.
        QVERIFY(thumbisleast());
        setdocument(form, Bytes(28, 'x'));
        QVERIFY(thumbisleast());
    }
};

QTEST_MAIN(WindowViewTest)
#include "window_view_test.moc"
