// The progress dialog of long loads and saves: when it comes up, what it shows, its Cancel, and
// what a cancelled or finished load or save leaves behind in the window.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLibraryInfo>
#include <QPointer>
#include <QProcess>
#include <QProgressDialog>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QWindow>
#include <QtTest>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "binio/binio.h"
#include "main/progress.h"
#include "main/qttranslations.h"
#include "main/tform1.h"
#include "tests/windowtest.h"

using namespace std::chrono_literals;
using tessarin::ProgressWatch;
using tessarin::TForm1;

namespace {

constexpr qint64 kMiB = qint64{1} << 20;

// What to do when the progress dialog comes up.
enum class OnProgress { nothing, cancel, closewindow };

// Records the class of every modal window and progress dialog that comes up while it lives, acts
// on a progress dialog as asked (Cancel, or the window manager's close on the window), and closes
// any other dialog but a file dialog (those are answered by windowtest::choosefile). It acts the
// moment a window is shown: the action is queued there and taken by the event loop that the
// operation runs after its next block, whatever the machine's speed.
class Modals : public QObject {
public:
    explicit Modals(OnProgress action) : action_(action) { qApp->installEventFilter(this); }
    ~Modals() override { qApp->removeEventFilter(this); }

    QStringList seen;
    // The window had the close request while the operation ran, and stayed until it ended.
    bool heldopen = false;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        auto* window = qobject_cast<QWidget*>(watched);
        if (event->type() == QEvent::Close && qobject_cast<TForm1*>(watched) != nullptr) {
            closeseen = true;
        }
        if (event->type() != QEvent::Show || window == nullptr || !window->isWindow() ||
            !(window->isModal() || qobject_cast<QProgressDialog*>(window) != nullptr)) {
            return false;
        }
        seen << QString::fromLatin1(window->metaObject()->className());
        if (auto* progress = qobject_cast<QProgressDialog*>(window)) {
            if (action_ == OnProgress::cancel) {
                QMetaObject::invokeMethod(progress, &QProgressDialog::cancel, Qt::QueuedConnection);
            } else if (action_ == OnProgress::closewindow) {
                // The operation waits here until the window has the request, however slow the
                // machine; a request that Qt drops never comes.
                QWidget* main = progress->parentWidget()->window();
                closewindow(main->winId());
                heldopen =
                    QTest::qWaitFor([this] { return closeseen; }, 30000) && main->isVisible();
            }
        } else if (auto* dialog = qobject_cast<QDialog*>(window);
                   dialog != nullptr && qobject_cast<QFileDialog*>(window) == nullptr) {
            QMetaObject::invokeMethod(dialog, &QDialog::reject, Qt::QueuedConnection);
        }
        return false;
    }

private:
    // Asks the window manager to close `window`, as its close button or Alt+F4 does.
    static void closewindow(WId window) {
        QProcess::execute(QStringLiteral("wmctrl"), {QStringLiteral("-i"), QStringLiteral("-c"),
                                                     QStringLiteral("0x%1").arg(window, 0, 16)});
    }

    OnProgress action_;
    bool closeseen = false;
};

// A byte pattern that differs from position to position and is cheap to make.
std::vector<std::uint8_t> patterned(qint64 size) {
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<std::uint8_t>(i * 7 + (i >> 9));
    }
    return bytes;
}

// What a cancelled load or save must leave as it was.
struct WindowState {
    std::vector<std::uint8_t> bindata;
    qint64 topaddr;
    QList<int> scroll;  // minimum, maximum, position, page step, line step
    QString caption;
    QStringList panels;
    QImage picture;
};

WindowState stateof(const TForm1& form) {
    WindowState state{form.bindata(),
                      form.topaddr(),
                      {form.sbv->minimum(), form.sbv->maximum(), form.sbv->value(),
                       form.sbv->pageStep(), form.sbv->singleStep()},
                      form.windowTitle(),
                      {},
                      form.Image1->picture()};
    for (const QLabel* panel : form.panels) {
        state.panels << panel->text();
    }
    return state;
}

}  // namespace

class ProgressTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> tmp;
    TForm1* form = nullptr;
    QList<QTimer*> timersbefore;
    QString startdir;

    // Every part of the window state that a cancelled operation must leave alone.
    void comparestate(const WindowState& before) {
        const WindowState now = stateof(*form);
        QVERIFY(now.bindata == before.bindata);
        QCOMPARE(now.topaddr, before.topaddr);
        QCOMPARE(now.scroll, before.scroll);
        QCOMPARE(now.caption, before.caption);
        QCOMPARE(now.panels, before.panels);
        QVERIFY(!now.picture.isNull());
        QCOMPARE(now.picture, before.picture);
    }

    // Runs Open or Save with `path` typed into its dialog and returns the modal windows that came
    // up, the file dialog first.
    QStringList run(void (TForm1::*command)(), const QString& path, OnProgress action) {
        Modals modals(action);
        windowtest::choosefile(path);
        (form->*command)();
        if (action == OnProgress::closewindow && !modals.heldopen) {
            QTest::qFail("the window never had the close request, or closed at once", __FILE__,
                         __LINE__);
        }
        return modals.seen;
    }

private slots:
    void initTestCase() { startdir = QDir::currentPath(); }

    void init() {
        timersbefore = windowtest::watchers();
        tmp = std::make_unique<QTemporaryDir>();
        QVERIFY(tmp->isValid());
        form = new TForm1;
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form));
    }

    void cleanup() {
        delete form;
        form = nullptr;
        windowtest::dropwatchers(timersbefore);
        QDir::setCurrent(startdir);
        tmp.reset();
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
        const QString path = tmp->filePath("in");
        {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.resize(size));
        }
        QWidget owner;
        std::vector<std::uint8_t> document{1, 2, 3};
        {
            ProgressWatch watch(&owner, "Loading %1", "", std::chrono::milliseconds(delayms));
            binio::loadfile(QFile::encodeName(path).toStdString(), document, watch.callback());
            QCOMPARE(watch.shown(), shown);
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
        ProgressWatch watch(&owner, "Saving %1", "x", 0ms);
        const binio::Progress progress = watch.callback();
        // A first call that is already complete shows nothing.
        QVERIFY(progress(total, total));
        QVERIFY(!watch.shown());

        QVERIFY(progress(done, total));
        auto* dialog = owner.findChild<QProgressDialog*>();
        QVERIFY(dialog != nullptr);
        QVERIFY(dialog->isVisible());
        const QLocale locale;
        if (permille < 0) {
            QCOMPARE(dialog->labelText(),
                     QStringLiteral("Saving x\n%1 バイト").arg(locale.toString(done)));
            QCOMPARE(dialog->maximum(), dialog->minimum());
        } else {
            QCOMPARE(dialog->labelText(), QStringLiteral("Saving x\n%1 / %2 バイト")
                                              .arg(locale.toString(done), locale.toString(total)));
            QCOMPARE(dialog->value() - dialog->minimum(),
                     permille * (dialog->maximum() - dialog->minimum()) / 1000);
        }
        // The owner's window takes no input meanwhile, and Enter (typed ahead) cancels nothing.
        QTest::mouseClick(button, Qt::LeftButton);
        QCOMPARE(clicks.size(), 0);
        auto* cancel = dialog->findChild<QPushButton*>();
        QVERIFY(cancel != nullptr);
        cancel->setFocus();
        QTest::keyClick(cancel, Qt::Key_Return);
        QTest::keyClick(dialog, Qt::Key_Enter);
        QVERIFY(progress(done, total));

        QTest::mouseClick(cancel, Qt::LeftButton);
        QVERIFY(!progress(done, total));
        QVERIFY(!progress(total, total));
    }

    // Esc cancels too; so does the window, for a close request.
    void escOrCancelCallStops_data() {
        QTest::addColumn<bool>("esc");
        QTest::newRow("Esc") << true;
        QTest::newRow("cancel()") << false;
    }

    void escOrCancelCallStops() {
        QFETCH(bool, esc);
        QWidget owner;
        ProgressWatch watch(&owner, "%1", "x", 0ms);
        const binio::Progress progress = watch.callback();
        QVERIFY(progress(1, 2));
        if (esc) {
            auto* dialog = owner.findChild<QProgressDialog*>();
            QVERIFY(QTest::qWaitForWindowActive(dialog));
            QTest::keyClick(dialog, Qt::Key_Escape);
        } else {
            watch.cancel();
        }
        QVERIFY(!progress(1, 2));
    }

    // A path of any length leaves the dialog inside its screen, shortened in the middle; the
    // whole path is in its tooltip.
    void longPathFitsTheScreen() {
        QWidget owner;
        const QString path =
            QStringLiteral("/") + QString(4000, QLatin1Char('d')) + QStringLiteral("/end.bin");
        ProgressWatch watch(&owner, "読み込み中: %1", path, 0ms);
        QVERIFY(watch.callback()(1, 2));
        auto* dialog = owner.findChild<QProgressDialog*>();
        QVERIFY(dialog != nullptr);
        QVERIFY(QTest::qWaitForWindowExposed(dialog));
        QVERIFY2(dialog->frameGeometry().width() <= owner.screen()->availableGeometry().width(),
                 qPrintable(QString::number(dialog->frameGeometry().width())));
        QVERIFY(dialog->labelText().startsWith(QStringLiteral("読み込み中: /dd")));
        QVERIFY(dialog->labelText().contains(QStringLiteral("end.bin\n1 / 2 バイト")));
        QCOMPARE(dialog->toolTip(), QStringLiteral("読み込み中: ") + path);
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
        const QString folder =
            installed ? QLibraryInfo::path(QLibraryInfo::TranslationsPath) : tmp->path();
        const auto translator =
            tessarin::installqttranslations(QLocale(QLocale::Japanese, QLocale::Japan), folder);
        QVERIFY2((translator != nullptr) == installed,
                 "Qt's Japanese translations: install qt6-translations-l10n (build.sh does)");
        TForm1 window;
        // The Open dialog, made when first used, takes its texts then.
        QString shown;
        windowtest::onnextmodal([&shown](QWidget* modal) {
            if (auto* dialog = qobject_cast<QFileDialog*>(modal)) {
                shown = dialog->labelText(QFileDialog::Accept);
            }
            modal->close();
        });
        window.Button1Click();
        QCOMPARE(shown, accept);
        ProgressWatch watch(&window, "%1", "x", 0ms);
        QVERIFY(watch.callback()(1, 2));
        auto* dialog = window.findChild<QProgressDialog*>();
        QVERIFY(dialog != nullptr);
        const auto* button = dialog->findChild<QPushButton*>();
        QVERIFY(button != nullptr);
        QCOMPARE(button->text(), cancel);
    }

    // Through the window, which shows the progress of every load and save at once here.
    void cancelledLoadChangesNothing() {
        const QString big = tmp->filePath("big");
        {
            QFile file(big);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.resize(3 * kMiB));
        }
        const QString small = tmp->filePath("small");
        {
            QFile file(small);
            QVERIFY(file.open(QIODevice::WriteOnly));
            const std::vector<std::uint8_t> bytes = patterned(300);
            file.write(reinterpret_cast<const char*>(bytes.data()), qint64(bytes.size()));
        }
        form->rb_mbHEX->setChecked(true);
        QCOMPARE(run(&TForm1::Button1Click, small, OnProgress::nothing),
                 QStringList{"QFileDialog"});
        form->sbv->setValue(5);
        form->Image1MouseMove(QPoint(60, 25));
        const WindowState before = stateof(*form);
        QCOMPARE(before.topaddr, qint64{10});
        QCOMPARE(before.panels[1], QStringLiteral("Addr.:D"));

        // No error box: a cancelled load is not an error.
        form->setprogressdelay(0ms);
        QCOMPARE(run(&TForm1::Button1Click, big, OnProgress::cancel),
                 (QStringList{"QFileDialog", "QProgressDialog"}));
        comparestate(before);
    }

    void cancelledSaveLeavesNoFile() {
        form->rb_mbbin->setChecked(true);
        windowtest::setdocument(form, patterned(3 * kMiB));
        form->sbv->setValue(3);
        const WindowState before = stateof(*form);
        const QStringList files = QDir(tmp->path()).entryList(QDir::AllEntries | QDir::System);

        const QString path = tmp->filePath("out.txt");
        form->setprogressdelay(0ms);
        QCOMPARE(run(&TForm1::Button3Click, path, OnProgress::cancel),
                 (QStringList{"QFileDialog", "QProgressDialog"}));
        QVERIFY(!QFile::exists(path));
        QCOMPARE(QDir(tmp->path()).entryList(QDir::AllEntries | QDir::System), files);
        comparestate(before);
    }

    // The window manager's close while a load runs cancels it and closes the window; while a
    // save runs, the save is finished first.
    void closeDuringOperation_data() {
        QTest::addColumn<bool>("save");
        QTest::newRow("load") << false;
        QTest::newRow("save") << true;
    }

    void closeDuringOperation() {
        QFETCH(bool, save);
        if (QGuiApplication::platformName() != QLatin1String("xcb")) {
            QSKIP("a window manager's close comes only on a real X server");
        }
        const std::vector<std::uint8_t> document = patterned(3 * kMiB);
        const QString path = tmp->filePath(save ? "out" : "in");
        if (save) {
            windowtest::setdocument(form, document);
        } else {
            QVERIFY(windowtest::writeall(path, windowtest::asbytearray(document)));
        }
        const WindowState before = stateof(*form);
        form->setprogressdelay(0ms);
        QCOMPARE(run(save ? &TForm1::Button3Click : &TForm1::Button1Click, path,
                     OnProgress::closewindow),
                 (QStringList{"QFileDialog", "QProgressDialog"}));
        QVERIFY(!form->isVisible());
        if (save) {
            QVERIFY(windowtest::readall(path) == windowtest::asbytearray(document));
        } else {
            comparestate(before);
        }
    }

    void finishedSaveWritesModeText_data() {
        QTest::addColumn<int>("mode");
        QTest::addColumn<qint64>("size");
        QTest::addColumn<bool>("slow");
        QTest::newRow("ascii") << 0 << 3 * kMiB + 5 << false;
        QTest::newRow("hex") << 1 << 3 * kMiB + 5 << false;
        QTest::newRow("bin") << 2 << 3 * kMiB + 5 << false;
        QTest::newRow("dec") << 3 << 3 * kMiB + 5 << false;
        QTest::newRow("empty") << 1 << qint64{0} << false;
        // The progress dialog comes up and stays until the end.
        QTest::newRow("bin, with the progress dialog") << 2 << 3 * kMiB + 5 << true;
        QTest::newRow("ascii, with the progress dialog") << 0 << 3 * kMiB + 5 << true;
    }

    void finishedSaveWritesModeText() {
        QFETCH(int, mode);
        QFETCH(qint64, size);
        QFETCH(bool, slow);
        windowtest::modebutton(form, mode)->setChecked(true);
        const std::vector<std::uint8_t> document = patterned(size);
        windowtest::setdocument(form, document);

        const QString path = tmp->filePath("out");
        form->setprogressdelay(slow ? 0ms : std::chrono::milliseconds::max());
        const QStringList seen = run(&TForm1::Button3Click, path, OnProgress::nothing);
        const QStringList expected =
            slow ? QStringList{"QFileDialog", "QProgressDialog"} : QStringList{"QFileDialog"};
        QCOMPARE(seen, expected);

        QVERIFY(QFile::exists(path));
        const QByteArray saved = windowtest::readall(path);
        const QByteArray text = windowtest::savedtext(document, tessarin::DispMode(mode));
        QCOMPARE(saved.size(), text.size());
        QVERIFY(saved == text);
    }
};

QTEST_MAIN(ProgressTest)
#include "progress_test.moc"
