// The progress dialog of long loads and saves: when it comes up, what it shows, its Cancel, and
// what a cancelled or finished load or save leaves behind in the window.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLibraryInfo>
#include <QPointer>
#include <QProcess>
#include <QProgressDialog>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QWindow>
#include <QtTest>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "binio/binio.h"
#include "main/progress.h"
#include "main/qttranslations.h"
#include "main/tform1.h"
#include "tests/fscalls.h"
#include "tests/testutil.h"
#include "tests/windowtest.h"

using namespace std::chrono_literals;
using tessarin::ProgressWatch;
using tessarin::TForm1;

namespace {

constexpr qint64 kMiB = qint64{1} << 20;

}  // namespace

using fscalls::kStallBoundMs;
using fscalls::stall;
using fscalls::Step;

namespace {

// Whether the file work's thread ("tessarin-file") still runs; on Windows, whether it waits.
bool workerrunning() {
#ifdef _WIN32
    return stall.waiting > 0;
#else
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString& task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(tasks.filePath(task + QStringLiteral("/comm")));
        if (comm.open(QIODevice::ReadOnly) && comm.readAll().trimmed() == "tessarin-file") {
            return true;
        }
    }
    return false;
#endif
}

// What to do when the progress dialog comes up.
enum class OnProgress { nothing, cancel, closewindow };
// What the user does about work that waits: Cancel, a close request, both in turn, or Cancel and
// then the window's end, with the program's, where the file system makes no unnamed files (FUSE)
// and a save's file has a hidden name.
enum class Act { cancel, close, closethencancel, cancelthenend };

// Asks the window manager to close `window`, as its close button or Alt+F4 does.
void closewindow(WId window) {
    QProcess::execute(QStringLiteral("wmctrl"), {QStringLiteral("-i"), QStringLiteral("-c"),
                                                 QStringLiteral("0x%1").arg(window, 0, 16)});
}

// Presses the dialog's Cancel button once the event loop runs again, as a click does.
void pressnext(QProgressDialog* progress) {
    QMetaObject::invokeMethod(progress->findChild<QPushButton*>(), &QPushButton::click,
                              Qt::QueuedConnection);
}

}  // namespace

class ProgressTest : public QObject, windowtest::Fixture {
    Q_OBJECT

private:
    // Runs Open or Save on `path` (openfile or savefile) and acts on the progress dialog as asked
    // the moment it is shown. With no delay, the work waits (see Stall) until the dialog is up and
    // the action taken, so that the dialog comes up whatever the machine's speed. Returns the
    // dialogs that came up.
    QStringList runwith(void (TForm1::*command)(const QString&), const QString& path,
                        OnProgress action) {
        const windowtest::EventSeen closes(form, QEvent::Close);
        bool heldopen = false;  // the window had the request and stayed until the operation ended
        const bool save = command == &TForm1::savefile;
        if (form->progressdelay() == 0ms && !stall.arm(1)) {
            QTest::qFail("no pipe to stall the file work with", __FILE__, __LINE__);
        }
        windowtest::Dialogs::get().onprogress = [&](QProgressDialog* progress) {
            if (action == OnProgress::cancel) {
                pressnext(progress);
                return;
            }
            if (action == OnProgress::closewindow) {
                // The operation waits here until the window has the request, however slow the
                // machine; a request that Qt drops never comes.
                closewindow(form->winId());
                heldopen =
                    QTest::qWaitFor([&] { return closes.seen.load(); }, 30000) && form->isVisible();
            }
            // A close request cancels a load; anything else lets the work go on to its end.
            if (save || action == OnProgress::nothing) {
                stall.release();
            }
        };
        // The pointer says the window is busy while the work runs: the first event the work's
        // own loop handles sees it.
        Qt::CursorShape pointer = Qt::ArrowCursor;
        QTimer::singleShot(0, [&pointer] {
            if (const QCursor* cursor = QApplication::overrideCursor()) {
                pointer = cursor->shape();
            }
        });
        const QStringList seen = act([&] { (form->*command)(path); }).seen;
        windowtest::Dialogs::get().onprogress = {};
        stall.release();
        if (pointer != Qt::WaitCursor) {
            QTest::qFail("no busy pointer while the work ran", __FILE__, __LINE__);
        }
        if (action == OnProgress::closewindow && !heldopen) {
            QTest::qFail("the window never had the close request, or closed at once", __FILE__,
                         __LINE__);
        }
        return seen;
    }

private slots:
    void init() { QVERIFY(startwindow()); }
    void cleanup() {
        stall.release();
        endwindow();
    }

    // ProgressWatch on its own, around a real load.
    void showsOnlyAfterDelay_data() {
        QTest::addColumn<int>("delayms");
        QTest::addColumn<int>("size");
        QTest::addColumn<bool>("shown");
        QTest::newRow("no delay") << 0 << 4'000'000 << true;
        QTest::newRow("no delay, empty file") << 0 << 0 << false;
        QTest::newRow("fast load, long delay") << 60'000 << 4'000'000 << false;
    }

    void showsOnlyAfterDelay() {
        QFETCH(int, delayms);
        QFETCH(int, size);
        QFETCH(bool, shown);
        const QString path = filepath("in");
        QVERIFY(testutil::makesparse(path, size));
        QWidget owner;
        std::vector<std::uint8_t> document{1, 2, 3};
        {
            ProgressWatch watch(&owner, "Loading %1", "", std::chrono::milliseconds(delayms), {});
            binio::loadfile(
                QFile::encodeName(path).toStdString(), document,
                [&watch](std::uint64_t done, std::uint64_t total) { watch.update(done, total); });
            QCOMPARE(owner.findChildren<QProgressDialog*>().size(), shown ? 1 : 0);
        }
        QCOMPARE(document.size(), std::size_t(size));
        QVERIFY(owner.findChildren<QProgressDialog*>().isEmpty());
    }

    void showsBytesUntilCancel_data() {
        QTest::addColumn<qulonglong>("done");
        QTest::addColumn<qulonglong>("total");
        QTest::addColumn<int>("permille");
        QTest::newRow("start") << 0ULL << 4000ULL << 0;
        QTest::newRow("a quarter") << 1000ULL << 4000ULL << 250;
        QTest::newRow("almost all of the largest document")
            << 2147483646ULL << 2147483647ULL << 999;
        // A file that tells its size only at its end: a busy bar.
        QTest::newRow("total unknown") << 3000ULL << qulonglong(binio::kUnknownTotal) << -1;
    }

    void showsBytesUntilCancel() {
        QFETCH(qulonglong, done);
        QFETCH(qulonglong, total);
        QFETCH(int, permille);
        QWidget owner;
        auto* button = new QPushButton(&owner);
        QSignalSpy clicks(button, &QPushButton::clicked);
        owner.show();
        binio::Stop stop;
        ProgressWatch watch(&owner, "Saving %1", "d/x", 0ms, stop);
        // A first call that is already complete shows nothing.
        watch.update(total, total);
        QVERIFY(owner.findChild<QProgressDialog*>() == nullptr);

        watch.update(done, total);
        auto* dialog = owner.findChild<QProgressDialog*>();
        QVERIFY(dialog != nullptr);
        QVERIFY(dialog->isVisible());
        const QLocale locale;
        // The path with the system's separators, as the caption shows it.
        const QString saving = QStringLiteral("Saving d%1x\n").arg(QDir::separator());
        if (permille < 0) {
            QCOMPARE(dialog->labelText(),
                     saving + QStringLiteral("%1 バイト").arg(locale.toString(done)));
            QCOMPARE(dialog->maximum(), dialog->minimum());
        } else {
            QCOMPARE(dialog->labelText(),
                     saving + QStringLiteral("%1 / %2 バイト")
                                  .arg(locale.toString(done), locale.toString(total)));
            QCOMPARE(dialog->value() - dialog->minimum(),
                     permille * (dialog->maximum() - dialog->minimum()) / 1000);
        }
        // Blocks that come fast change the texts no more than every 250 ms.
        QElapsedTimer clock;
        clock.start();
        int changes = 0;
        for (qulonglong more = 1; more <= 200; ++more) {
            const QString shown = dialog->labelText();
            watch.update(std::min(done + more, total - 1), total);
            changes += dialog->labelText() != shown;
        }
        QVERIFY2(changes <= 1 + clock.elapsed() / 250, qPrintable(QString::number(changes)));
        // The owner's window takes no input meanwhile, and Enter (typed ahead) cancels nothing.
        QTest::mouseClick(button, Qt::LeftButton);
        QCOMPARE(clicks.size(), 0);
        auto* cancel = dialog->findChild<QPushButton*>();
        QVERIFY(cancel != nullptr);
        cancel->setFocus();
        QTest::keyClick(cancel, Qt::Key_Return);
        QTest::keyClick(dialog, Qt::Key_Enter);
        QVERIFY(!stop.requested());

        QTest::mouseClick(cancel, Qt::LeftButton);
        QVERIFY(stop.requested());
    }

    // Esc cancels too; a stop requested elsewhere (the window, for a close request) before the
    // dialog came up keeps it away.
    void escOrCancelCallStops_data() {
        windowtest::addflagrows("esc", "stop requested elsewhere", "Esc");
    }

    void escOrCancelCallStops() {
        QFETCH(bool, esc);
        QWidget owner;
        binio::Stop stop;
        ProgressWatch watch(&owner, "%1", "x", 0ms, stop);
        if (esc) {
            watch.update(1, 2);
            auto* dialog = owner.findChild<QProgressDialog*>();
            QVERIFY(dialog != nullptr);
            QVERIFY(windowtest::waitforkeyboard(dialog->windowHandle()));
            QTest::keyClick(dialog, Qt::Key_Escape);
            QVERIFY(stop.requested());
        } else {
            stop.request();
            watch.update(1, 2);
            QVERIFY(owner.findChild<QProgressDialog*>() == nullptr);
        }
    }

    // A path of any length leaves the dialog inside its screen, shortened in the middle; the
    // whole path is in its tooltip.
    void longPathFitsTheScreen() {
        QWidget owner;
        const QString path =
            QStringLiteral("/") + QString(4000, QLatin1Char('d')) + QStringLiteral("/end.bin");
        ProgressWatch watch(&owner, "読み込み中: %1", path, 0ms, {});
        watch.update(1, 2);
        auto* dialog = owner.findChild<QProgressDialog*>();
        QVERIFY(dialog != nullptr);
        QVERIFY(QTest::qWaitForWindowExposed(dialog));
        QVERIFY2(dialog->frameGeometry().width() <= owner.screen()->availableGeometry().width(),
                 qPrintable(QString::number(dialog->frameGeometry().width())));
        const QString shown = QString(path).replace('/', QDir::separator());
        QVERIFY(dialog->labelText().startsWith(QStringLiteral("読み込み中: ") + shown.left(3)));
        QVERIFY(dialog->labelText().contains(QStringLiteral("end.bin\n1 / 2 バイト")));
        QCOMPARE(dialog->toolTip(), QStringLiteral("読み込み中: ") + shown);
    }

    // Qt's own buttons in the window's dialogs, with and without Qt's Japanese translations.
    void qtTextsFollowTranslations_data() {
        QTest::addColumn<bool>("installed");
        QTest::addColumn<QString>("accept");
        QTest::addColumn<QString>("cancel");
        // What qtbase_ja.qm of Debian's qt6-translations-l10n says.
        QTest::newRow("installed")
            << true << QStringLiteral("開く(&O)") << QStringLiteral("キャンセル");
        QTest::newRow("missing") << false << QStringLiteral("&Open") << QStringLiteral("Cancel");
    }

    void qtTextsFollowTranslations() {
        QFETCH(bool, installed);
        QFETCH(QString, accept);
        QFETCH(QString, cancel);
        const QString translations =
            installed ? QLibraryInfo::path(QLibraryInfo::TranslationsPath) : scratch();
        const auto translator = tessarin::installqttranslations(
            QLocale(QLocale::Japanese, QLocale::Japan), translations);
        QVERIFY2((translator != nullptr) == installed,
                 "Qt's Japanese translations: install qt6-translations-l10n (build.sh does)");
        // A window made now, whose Open dialog, made when first used, takes its texts then.
        newwindow();
        QString shown;
        windowtest::answernext<QFileDialog>(
            [&shown](QFileDialog* dialog) { shown = dialog->labelText(QFileDialog::Accept); });
        form->Button1Click();
        QCOMPARE(shown, accept);
        ProgressWatch watch(form, "%1", "x", 0ms, {});
        watch.update(1, 2);
        auto* dialog = form->findChild<QProgressDialog*>();
        QVERIFY(dialog != nullptr);
        const auto* button = dialog->findChild<QPushButton*>();
        QVERIFY(button != nullptr);
        QCOMPARE(button->text(), cancel);
    }

    // Through the window, which shows the progress of every load and save at once here.
    void cancelledLoadChangesNothing() {
        const QString big = filepath("big");
        QVERIFY(testutil::makesparse(big, 3 * kMiB));
        const QString small = scratchfile("small", testutil::randombytes(1, 300));
        form->rb_mbHEX->setChecked(true);
        QCOMPARE(runwith(&TForm1::openfile, small, OnProgress::nothing), QStringList());
        form->sbv->setValue(5);
        form->Image1MouseMove(QPoint(60, 25));
        QCOMPARE(form->topaddr(), qint64{10});
        QCOMPARE(form->panels[1]->text(), QStringLiteral("Addr.:D"));
        const QVariantList before = windowtest::snapshot(form);

        // No error box: a cancelled load is not an error.
        form->setprogressdelay(0ms);
        QCOMPARE(runwith(&TForm1::openfile, big, OnProgress::cancel),
                 (QStringList{"QProgressDialog"}));
        QCOMPARE(windowtest::snapshot(form), before);
    }

    void cancelledSaveLeavesNoFile() {
        form->rb_mbbin->setChecked(true);
        windowtest::setdocument(form, testutil::randombytes(1, 3 * kMiB));
        form->sbv->setValue(3);
        const QVariantList before = windowtest::snapshot(form);
        const QStringList files = windowtest::entries(scratch());

        const QString path = filepath("out.txt");
        form->setprogressdelay(0ms);
        QCOMPARE(runwith(&TForm1::savefile, path, OnProgress::cancel),
                 (QStringList{"QProgressDialog"}));
        QVERIFY(!QFile::exists(path));
        QCOMPARE(windowtest::entries(scratch()), files);
        QCOMPARE(windowtest::snapshot(form), before);
    }

    // The window manager's close while a load runs cancels it and closes the window; while a
    // save runs, the save is finished first.
    void closeDuringOperation_data() { windowtest::addflagrows("save", "load", "save"); }

    void closeDuringOperation() {
        QFETCH(bool, save);
        if (QGuiApplication::platformName() == QLatin1String("wayland")) {
            QSKIP("the compositor's close comes from its own controls, which no test can reach");
        }
        if (QGuiApplication::platformName() != QLatin1String("xcb")) {
            QSKIP("a window manager's close comes only on a real X server");
        }
        const std::vector<std::uint8_t> document = testutil::randombytes(1, 3 * kMiB);
        const QString path = filepath(save ? "out" : "in");
        if (save) {
            windowtest::setdocument(form, document);
        } else {
            testutil::writefile(path, document);
        }
        const QVariantList before = windowtest::snapshot(form);
        form->setprogressdelay(0ms);
        QCOMPARE(
            runwith(save ? &TForm1::savefile : &TForm1::openfile, path, OnProgress::closewindow),
            (QStringList{"QProgressDialog"}));
        QVERIFY(!form->isVisible());
        if (save) {
            QVERIFY(testutil::readfile<testutil::Bytes>(path) == document);
        } else {
            QCOMPARE(windowtest::snapshot(form), before);
        }
    }

    // A read or write that the file system keeps waiting: the window repaints meanwhile, Cancel
    // or a close request ends the load or save at once, and it leaves everything as it was. Where
    // the wait cannot be interrupted, the work is left to finish on its own. A save whose file is
    // being named can no longer be stopped: Cancel then waits for it, and says nothing. The dialog
    // comes up whatever the work waits on, all its bytes reported or not.
    void blockedWorkEnds_data() {
        QTest::addColumn<bool>("save");
        QTest::addColumn<Act>("how");
        QTest::addColumn<int>("interrupts");  // the signals that end the wait; 0: none does
        QTest::addColumn<Step>("step");
        // Whether the work waits in its first read or write until the dialog is up, and only then
        // in the step.
        QTest::addColumn<bool>("moves");
        QTest::newRow("load, Cancel") << false << Act::cancel << 1 << Step::io << false;
        QTest::newRow("load, close request") << false << Act::close << 1 << Step::io << false;
        QTest::newRow("load, Cancel, not interruptible")
            << false << Act::cancel << 0 << Step::io << false;
        // A signal that comes just before the call starts to wait is lost.
        QTest::newRow("load, Cancel, the first signal lost")
            << false << Act::cancel << 2 << Step::io << false;
        QTest::newRow("save, Cancel") << true << Act::cancel << 1 << Step::io << false;
        QTest::newRow("save, Cancel, not interruptible")
            << true << Act::cancel << 0 << Step::io << false;
        QTest::newRow("save, close request, then Cancel")
            << true << Act::closethencancel << 1 << Step::io << false;
        QTest::newRow("save, Cancel during the flush")
            << true << Act::cancel << 0 << Step::flush << true;
        QTest::newRow("save, Cancel while the file is named")
            << true << Act::cancel << 0 << Step::link << true;
        QTest::newRow("save, Cancel in the last flush, all bytes written")
            << true << Act::cancel << 0 << Step::flush << false;
        // The worker left waiting does not outlive the program, but its file must not either.
        QTest::newRow("save of a hidden file, Cancel, not interruptible, the window's end")
            << true << Act::cancelthenend << 0 << Step::io << false;
    }

    void blockedWorkEnds() {
        QFETCH(bool, save);
        QFETCH(Act, how);
        QFETCH(int, interrupts);
        QFETCH(Step, step);
        QFETCH(bool, moves);
        // What the user waits for after Cancel at most, on a machine however busy; the window
        // itself gives up on the work after a tenth of a second.
        constexpr qint64 kBoundMs = 2000;
        // How long a save's naming is held up after Cancel, when Cancel comes too late for it.
        constexpr int kNamingMs = 300;
        const bool toolate = step == Step::link;
        const QString path = filepath("file");
        const testutil::Bytes document = testutil::randombytes(1, 300);
        windowtest::setdocument(form, document);
        if (save) {
            form->rb_mbHEX->setChecked(true);
        } else {
            testutil::writefile(path, testutil::randombytes(1, kMiB));
        }
        form->sbv->setValue(3);
        const QVariantList before = windowtest::snapshot(form);
        const QStringList files = windowtest::entries(scratch());
        form->setprogressdelay(0ms);
        QVERIFY(stall.arm(interrupts, moves ? Step::io : step));
        // The window looks at the work only once it waits, with all it did before reported.
        QTimer::singleShot(0, [] { stall.waitforcall(); });
        std::optional<fscalls::NoUnnamedFiles> nounnamed;
        if (how == Act::cancelthenend) {
            nounnamed.emplace();
        }

        bool repainted = false;
        QElapsedTimer acted;
        windowtest::Dialogs::get().onprogress = [&](QProgressDialog* progress) {
            if (moves) {
                const int before = stall.entered;
                stall.moveto(step);
                if (!QTest::qWaitFor([&] { return stall.entered > before && stall.waiting > 0; },
                                     kStallBoundMs)) {
                    return;
                }
            }
            const windowtest::EventSeen paints(form->Image1, QEvent::Paint);
            form->Image1->update();
            repainted = QTest::qWaitFor([&] { return paints.seen.load(); }, kStallBoundMs);
            acted.start();
            if (how == Act::close || how == Act::closethencancel) {
                form->close();
            }
            if (how != Act::close) {
                pressnext(progress);
            }
            if (toolate) {
                QTimer::singleShot(kNamingMs, [] { stall.release(); });
            }
        };
        const QStringList seen =
            act([&] { save ? form->savefile(path) : form->openfile(path); }).seen;
        const qint64 took = acted.isValid() ? acted.elapsed() : -1;
        const bool named = QFile::exists(path);
        windowtest::Dialogs::get().onprogress = {};
        nounnamed.reset();
        QCOMPARE(seen, QStringList{"QProgressDialog"});
        QVERIFY(repainted);
        QCOMPARE(form->isVisible(), how != Act::close);
        if (toolate) {
            // The window waited for the save, which wrote its file whole.
            QVERIFY2(took >= kNamingMs && named, qPrintable(QString::number(took)));
            QCOMPARE(testutil::readfile<QByteArray>(path),
                     windowtest::savedtext(document, tessarin::DispMode::hex));
            return;
        }
        QVERIFY2(took >= 0 && took < kBoundMs, qPrintable(QString::number(took)));
        QCOMPARE(windowtest::snapshot(form), before);
        // An interrupted worker ends, and is not left waiting.
        if (interrupts > 0) {
            QVERIFY(QTest::qWaitFor([] { return stall.waiting == 0; }, kStallBoundMs / 2));
        } else {
            QVERIFY(stall.waiting > 0);
        }
        if (how == Act::cancelthenend) {
            // Listed past Qt, which finds nothing on a file system left waiting.
            const auto listed = std::filesystem::directory_iterator(scratch().toStdString());
            QCOMPARE(std::distance(begin(listed), end(listed)), files.size() + 1);
#ifdef _WIN32
            // Windows takes a removed file away once its last handle, the worker's, is closed, and
            // Wine tells nobody that it is going: the window's removal is what is watched.
            static std::atomic<int> removed = 0;
            const binio::Replaced removals(&binio::SystemCalls::DeleteFileW, [](LPCWSTR path) {
                const BOOL done = fscalls::real.DeleteFileW(path);
                removed += done;
                return done;
            });
            newwindow();
            QVERIFY(QTest::qWaitFor([] { return removed > 0; }, kStallBoundMs / 2));
#else
            newwindow();
            QVERIFY(QTest::qWaitFor([&] { return windowtest::entries(scratch()) == files; },
                                    kStallBoundMs / 2));
#endif
        }
        // A worker left to itself ends once the file system answers, and leaves nothing behind;
        // the window sees the file system again.
        stall.release();
        QVERIFY(QTest::qWaitFor([] { return !workerrunning(); }, kStallBoundMs));
        QTRY_COMPARE(windowtest::entries(scratch()), files);
    }

    // A save that the progress dialog shows until its end writes the mode's text; without the
    // dialog, each mode's text is window_edit_test's saveWritesModeText's.
    void finishedSaveWritesModeText_data() {
        QTest::addColumn<int>("mode");
        windowtest::moderow(2, ", with the progress dialog");
        windowtest::moderow(0, ", with the progress dialog");
    }

    void finishedSaveWritesModeText() {
        QFETCH(int, mode);
        windowtest::modebutton(form, mode)->setChecked(true);
        const std::vector<std::uint8_t> document =
            testutil::randombytes(1, std::size_t(3 * kMiB + 5));
        windowtest::setdocument(form, document);

        const QString path = filepath("out");
        form->setprogressdelay(0ms);
        QCOMPARE(runwith(&TForm1::savefile, path, OnProgress::nothing),
                 QStringList{"QProgressDialog"});

        const QByteArray saved = testutil::readfile<QByteArray>(path);
        const QByteArray text = windowtest::savedtext(document, tessarin::DispMode(mode));
        QCOMPARE(saved.size(), text.size());
        QVERIFY(saved == text);
    }
};

QTEST_MAIN(ProgressTest)
#include "progress_test.moc"
