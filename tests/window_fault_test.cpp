// The main window when a command fails: each fault ends in the error box, leaves the document,
// the view, the caption and the size panel as they were and no file behind, and the next Open
// and Save work. Faults that need another user, a resource limit or a file system of its own run in
// a child process: this program started again with --child.
#include <QAbstractItemView>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QtTest>

#ifndef _WIN32
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "main/endsignals.h"
#endif

#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <utility>

#include "main/tform1.h"
#include "tests/fscalls.h"
#include "tests/testutil.h"
#include "tests/windowtest.h"

using tessarin::TForm1;

namespace {

// A file that changes while the window loads it: right after the file work's first read, it is
// cut to half its size or grows by 4 KiB.
struct Changing {
    bool grow = false;
    bool changed = false;
    QString path;
};
Changing changing;

void changefile() {
    if (std::exchange(changing.changed, true)) {
        return;
    }
    QFile file(changing.path);
    changing.changed =
        changing.grow ? file.open(QIODevice::Append) && file.write(QByteArray(4096, 'x')) == 4096
                      : file.resize(file.size() / 2);
}

#ifndef _WIN32
std::string local(const QString& path) {
    return QFile::encodeName(path).toStdString();
}
#endif

constexpr int kDocSize = 1 << 20;  // the document open when a command fails
constexpr int kNextSize = 3000;    // the file opened and saved after it
constexpr int kStartRow = 1000;    // the row the document is scrolled to
constexpr int kSkipped = 77;       // a child's exit code when the system lacks what it needs

// The files every fault starts from: the document, the file opened after the fault and a folder
// for the save after it. Run as root, that folder is nobody's, for the children that become
// nobody.
bool preparefolder(const QString& folder) {
    testutil::writefile(folder + "/doc.bin", testutil::randombytes(1, kDocSize));
    testutil::writefile(folder + "/next.bin", testutil::randombytes(2, kNextSize));
#ifdef _WIN32
    return QDir(folder).mkdir("out");
#else
    return ::chmod(local(folder).c_str(), 0755) == 0 && QDir(folder).mkdir("out") &&
           (::geteuid() != 0 ||
            ::chown(local(folder + "/out").c_str(), testutil::kNobody, testutil::kNobody) == 0);
#endif
}

// The window of a fault, with the checks every fault ends in.
class FaultWindow : public windowtest::Fixture {
public:
    // Opens the document and scrolls down.
    void opendocument() {
        QVERIFY(!open(filepath("doc.bin")).box.shown);
        QCOMPARE(form->bindata().size(), std::size_t(kDocSize));
        form->sbv->setValue(kStartRow);
        QCOMPARE(form->topaddr(), qint64(kStartRow) * form->cols());
    }

    // Runs `command` on `target`: it must fail with `text` and change nothing, in the window or
    // in the target's folder. Then an Open of next.bin and a Save of it into `savefolder` work.
    // With `closing`, the window is asked to close while the command runs: a save that failed
    // keeps it open.
    void fault(void (TForm1::*command)(const QString&), const QString& target, const QString& text,
               const QString& savefolder, bool closing = false) {
        const QVariantList before = windowtest::snapshot(form);
        const qint64 drawn = form->Image1->picture().cacheKey();
        const QString folder = QFileInfo(target).path();
        const QStringList present = windowtest::entries(folder);

        if (closing) {
            QMetaObject::invokeMethod(form, &QWidget::close, Qt::QueuedConnection);
        }
        const windowtest::Box box = act([&] { (form->*command)(target); }).box;
        QVERIFY(form->isVisible());

        QVERIFY(box.shown);
        QCOMPARE(box.caption, QStringLiteral("Tessarin"));
        QCOMPARE(box.icon, QMessageBox::Critical);
        QCOMPARE(box.text, text);
        QCOMPARE(windowtest::snapshot(form), before);
        // Not even drawn anew: the document stayed drawn throughout.
        QCOMPARE(form->Image1->picture().cacheKey(), drawn);
        QCOMPARE(windowtest::entries(folder), present);

        const QString next = filepath("next.bin");
        QVERIFY(!open(next).box.shown);
        QCOMPARE(form->panels[0]->text(), QStringLiteral("size:3000bytes"));
        QVERIFY(document() == testutil::readfile<QByteArray>(next));
        const QString saved = savefolder + "/saved.bin";
        QVERIFY(!save(saved).box.shown);
        QVERIFY(testutil::readfile(saved) == testutil::readfile(next));
    }
};

}  // namespace

// ---------------------------------------------------------------------------------------------
// The child side: one scenario in a process of its own, which needs what only POSIX systems
// offer: another user, a mount, resource limits.
#ifndef _WIN32
namespace {

QString childscenario;
QString childfolder;

// The address space in use now, from /proc/self/status.
rlim_t addressspace() {
    const QByteArray status = testutil::readfile<QByteArray>(QStringLiteral("/proc/self/status"));
    for (const QByteArray& line : status.split('\n')) {
        if (line.startsWith("VmSize:")) {
            return rlim_t(line.mid(7).trimmed().split(' ').value(0).toULongLong()) * 1024;
        }
    }
    return 0;
}

}  // namespace

class FaultChild : public QObject, FaultWindow {
    Q_OBJECT

    // A load from a mount that stops answering, reached directly or through a symbolic link, given
    // up on by Cancel. The Open dialog that follows drops its name there, starts where the window
    // started and lists it anew (a file that appeared since, not the mount); the Save dialog keeps
    // its name elsewhere. Neither looks anything up on the mount; a path typed onto it stays as
    // typed, and the save takes it. Once the mount answers again, it is no longer kept away.
    void stalledload(const QString& typedname) {
        const bool throughlink = typedname.startsWith("lnk");
        const QString start = scratch();
        QVERIFY(QDir::setCurrent(start));
        newwindow();
        QVERIFY(showform());
        windowtest::choosefile(filepath("out/kept.bin"));
        act([&] { form->Button3Click(); });
        const QString far = filepath("far/sub/one.bin");
        QVERIFY(QDir().mkpath(filepath("far/sub")) && QDir().mkpath(filepath("far1")) &&
                QFile::link(filepath("far"), filepath("lnk")));
        testutil::writefile(far, testutil::randombytes<QByteArray>(4, 4096));
        form->setprogressdelay(std::chrono::milliseconds(0));
        windowtest::Lookups* const lookups = windowtest::lookups();
        QVERIFY2(lookups, "the system lets no process watch its calls (seccomp)");
        QVERIFY(fscalls::stall.arm(0));
        windowtest::Dialogs::get().onprogress = [](QProgressDialog* progress) {
            (void)QTest::qWaitFor([] { return fscalls::stall.waiting > 0; },
                                  fscalls::kStallBoundMs);
            QMetaObject::invokeMethod(progress, &QProgressDialog::cancel, Qt::QueuedConnection);
        };
        // Typed whole into the name field, as a person does.
        windowtest::answernext<QFileDialog>([&](QFileDialog* dialog) {
            dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))
                ->setText(throughlink ? filepath("lnk/sub/one.bin") : far);
            static_cast<QDialog*>(dialog)->accept();
        });
        act([&] { form->Button1Click(); });
        windowtest::Dialogs::get().onprogress = {};
        QCOMPARE(fscalls::stall.waiting.load(), 1);
        // The read waits on; the reads and writes below do not.
        fscalls::stall.step = fscalls::Step::none;
        scratchfile("out/new.bin", "new");
        const QString typed = filepath(typedname);
        QStringList seen;
        lookups->recording = true;
        for (const auto command : {&TForm1::Button1Click, &TForm1::Button3Click}) {
            windowtest::answernext<QFileDialog>([&](QFileDialog* dialog) {
                auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
                const auto* model = dialog->findChild<QFileSystemModel*>();
                seen << dialog->directory().absolutePath() << name->text();
                if (command == &TForm1::Button1Click) {
                    seen << QString::number(QTest::qWaitFor(
                                [&] { return model->index(filepath("out/new.bin")).isValid(); })) +
                                QString::number(model->index(filepath("far")).isValid());
                }
                // Typed once the dialog has the keyboard, into its name field.
                (void)windowtest::waitforkeyboard(dialog->windowHandle());
                name->setFocus();
                dialog->findChild<QAbstractItemView*>(QStringLiteral("listView"))->clearSelection();
                name->clear();
                QTest::keyClicks(name, command == &TForm1::Button1Click ? "new.bin" : typed);
                seen << name->text();
                static_cast<QDialog*>(dialog)->accept();
            });
            act([&] { (form->*command)(); });
        }
        lookups->recording = false;
        const QString out = filepath("out");
        QCOMPARE(seen, (QStringList{out, "", "10", "new.bin", out, "kept.bin", typed}));
        QCOMPARE(form->windowTitle(), "Tessarin - " + filepath("out/new.bin"));
        const std::lock_guard lock(lookups->mutex);
        for (const QString& path : lookups->looked) {
            QVERIFY2(!(path + '/').startsWith(filepath("far/")) &&
                         !(path + '/').startsWith(filepath("lnk/")),
                     qPrintable(path));
        }
        fscalls::stall.release();
        QVERIFY(QTest::qWaitFor([&] { return QFile::exists(typed); }));
    }

    // A save held in a write of its hidden file, on a file system without unnamed files, when the
    // program is sent TERM, which asks the window to close and lets the save go on, and then INT:
    // the file goes, and the program ends by INT.
    void endedsave() {
        const tessarin::EndSignals ending(form);
        const windowtest::EventSeen closes(form, QEvent::Close);
        const fscalls::NoUnnamedFiles nounnamed;
        QVERIFY(fscalls::stall.arm(0));
        form->setprogressdelay(std::chrono::milliseconds(0));
        windowtest::Dialogs::get().onprogress = [&](QProgressDialog*) {
            ::kill(::getpid(), SIGTERM);
            if (QTest::qWaitFor([&] { return closes.seen && fscalls::stall.waiting > 0; },
                                fscalls::kStallBoundMs) &&
                form->isVisible()) {
                ::kill(::getpid(), SIGINT);
            }
        };
        save(filepath("small/saved.bin"));
    }

private slots:
    void cleanup() { endwindow(); }

    void scenario() {
        QVERIFY(startwindow(windowtest::Start::shown, childfolder));
        opendocument();
        if (QTest::currentTestFailed()) {
            return;
        }
        const QString out = filepath("out");
        if (childscenario == "unreadable") {
            fault(&TForm1::openfile, filepath("secret.bin"), windowtest::boxtext(5), out);
        } else if (childscenario == "unwritable") {
            fault(&TForm1::savefile, filepath("locked/saved.bin"), windowtest::boxtext(5), out);
        } else if (childscenario.startsWith("stalled")) {
            stalledload(childscenario.section(' ', 1));
        } else if (childscenario == "interrupted") {
            endedsave();
        } else if (childscenario == "filesize") {
            fault(&TForm1::savefile, out + "/big.bin", QStringLiteral("I/O エラー (27)"), out);
        } else if (childscenario == "memory") {
            // Room for the dialogs and the small file, not for the 1.5 GiB one.
            const rlim_t used = addressspace();
            QVERIFY(used > 0);
            const struct rlimit limit = {used + (rlim_t{512} << 20), used + (rlim_t{512} << 20)};
            QVERIFY(::setrlimit(RLIMIT_AS, &limit) == 0);
            fault(&TForm1::openfile, filepath("huge.bin"), QStringLiteral("メモリが足りません."),
                  out);
        } else {
            QFAIL(qPrintable("unknown scenario " + childscenario));
        }
    }
};

namespace {

// Takes away what the scenario needs gone before Qt starts; false with a message when that
// fails. A system that allows no mounts ends the child as skipped.
bool childsetup(const QString& scenario, const QString& folder) {
    if ((scenario == "unreadable" || scenario == "unwritable") && ::geteuid() == 0) {
        if (!testutil::dropprivileges()) {
            std::perror("dropping privileges");
            return false;
        }
    } else if (scenario.startsWith("stalled")) {
        // A file system of its own for the load that stalls.
        if (testutil::mountsmalldisk(folder + "/far", "") != 0) {
            std::perror("mounting a tmpfs");
            std::exit(kSkipped);
        }
    } else if (scenario == "filesize") {
        const struct rlimit limit = {64 << 10, 64 << 10};
        if (std::signal(SIGXFSZ, SIG_IGN) == SIG_ERR || ::setrlimit(RLIMIT_FSIZE, &limit) != 0) {
            std::perror("limiting the file size");
            return false;
        }
    }
    return true;
}

int childmain(char* program, const char* scenario, const char* folder) {
    childscenario = QString::fromLocal8Bit(scenario);
    childfolder = QString::fromLocal8Bit(folder);
    if (!childsetup(childscenario, childfolder)) {
        return 2;
    }
    int argc = 1;
    char* argv[] = {program, nullptr};
    QApplication app(argc, argv);
    app.setAttribute(Qt::AA_Use96Dpi, true);
    FaultChild child;
    return QTest::qExec(&child, QStringList{QString::fromLocal8Bit(program), "scenario"});
}

}  // namespace
#endif

class WindowFaultTest : public QObject, FaultWindow {
    Q_OBJECT

private slots:
    void init() {
        QVERIFY(startwindow());
        QVERIFY(preparefolder(scratch()));
    }
    void cleanup() {
        changing = Changing();
        endwindow();
    }

    void failedOpen_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<qint64>("size");
        QTest::addColumn<QString>("text");
        QTest::newRow("missing folder") << "none" << qint64(0) << "不正なファイル名です.";
        QTest::newRow("directory") << "folder" << qint64(0) << windowtest::boxtext(5);
        QTest::newRow("2^31 bytes") << "sparse" << (qint64(1) << 31) << "範囲チェックエラー.";
    }

    void failedOpen() {
        QFETCH(QString, kind);
        QFETCH(qint64, size);
        QFETCH(QString, text);
        opendocument();
        QString target = filepath("none/doc.bin");
        if (kind == "folder") {
            target = filepath("folder");
            QVERIFY(QDir().mkdir(target));
        } else if (kind == "sparse") {
            target = filepath("sparse.bin");
            QVERIFY(testutil::makesparse(target, size));
        }
        fault(&TForm1::openfile, target, text, filepath("out"));
    }

    void fileChangingWhileLoading_data() { windowtest::addflagrows("grow", "shrinks", "grows"); }

    void fileChangingWhileLoading() {
        QFETCH(bool, grow);
        opendocument();
        // Four blocks of the load: the change comes after the first.
        const QString target = filepath("changing.bin");
        const QByteArray content = testutil::randombytes<QByteArray>(3, 4 << 20);
        testutil::writefile(target, content);
        // Armed just before the load: the file changes on the first read from it.
        changing = {grow, false, target};
        const fscalls::AfterReads reads(changefile);
        if (!grow) {
            fault(&TForm1::openfile, target, QStringLiteral("ファイルの末尾以降を読み込みました."),
                  filepath("out"));
            QVERIFY(changing.changed);
            QCOMPARE(QFileInfo(target).size(), qint64(2 << 20));
            return;
        }
        QVERIFY(!open(target).box.shown);
        QVERIFY(changing.changed);
        QCOMPARE(QFileInfo(target).size(), qint64((4 << 20) + 4096));
        QCOMPARE(form->panels[0]->text(), QStringLiteral("size:4194304bytes"));
        QCOMPARE(form->windowTitle(),
                 QStringLiteral("Tessarin - ") + QDir::toNativeSeparators(target));
        QVERIFY(document() == content);
    }

    // A save into a folder that is gone, onto a folder's name, or onto a disk with room for 64
    // KiB, the window asked to close meanwhile or not.
    void failedSave_data() {
        QTest::addColumn<QString>("target");
        QTest::addColumn<qint64>("room");  // the disk's room for the file; -1: no disk fault
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("closing");
        QTest::newRow("save into a missing folder")
            << "gone/saved.bin" << qint64(-1) << "不正なファイル名です." << false;
        QTest::newRow("save onto a folder")
            << "out" << qint64(-1) << windowtest::boxtext(5) << false;
        QTest::newRow("save onto a 64 KiB disk")
            << "out/saved.bin" << qint64(64 << 10) << "I/O エラー (112)" << false;
        QTest::newRow("save onto a 64 KiB disk, the window asked to close")
            << "out/saved.bin" << qint64(64 << 10) << "I/O エラー (112)" << true;
    }

    void failedSave() {
        QFETCH(QString, target);
        QFETCH(qint64, room);
        QFETCH(QString, text);
        QFETCH(bool, closing);
        opendocument();
        std::optional<fscalls::FailingDisk> disk;
        if (room >= 0) {
            disk.emplace(room, 0);
        }
        fault(&TForm1::savefile, filepath(target), text, filepath("out"), closing);
    }

    void childScenario_data() {
        QTest::addColumn<QString>("scenario");
        // A file the child may not read, a folder it may not write into: as root, files only
        // root may use and a child that becomes nobody; as anyone else, the user's own files
        // with no permission to read or write.
        QTest::addColumn<bool>("denied");
        QTest::newRow("open a file nobody may read") << "unreadable" << true;
        QTest::newRow("save into a folder nobody may write") << "unwritable" << true;
        QTest::newRow("save over the file size limit") << "filesize" << false;
        // "stalled" and the name typed into the Save dialog afterwards.
        QTest::newRow("dialogs after a load left waiting on a mount")
            << "stalled far/two.bin" << false;
        QTest::newRow("dialogs after a load left waiting on a mount, through a link")
            << "stalled lnk/two.bin" << false;
        QTest::newRow("dialogs after a load left waiting on a mount, into a folder named alike")
            << "stalled far1/two.bin" << false;
        QTest::newRow("open more than the memory left") << "memory" << false;
        QTest::newRow("TERM, then INT, during a save") << "interrupted" << false;
    }

    void childScenario() {
#ifdef _WIN32
        QSKIP(
            "the child takes away what the fault needs as only POSIX systems can: it becomes "
            "another user, mounts a file system of its own or lowers a resource limit");
#else
        QFETCH(QString, scenario);
        QFETCH(bool, denied);
        if (scenario == "memory" && testutil::kSanitized) {
            QSKIP("AddressSanitizer reserves more address space than any limit would leave");
        }
        const bool asnobody = denied && ::geteuid() == 0;
        const QString& folder = scratch();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        // The dialogs of a stalled load on the display of this pass.
        if (!scenario.startsWith("stalled")) {
            env.insert("QT_QPA_PLATFORM", "offscreen");
        }
        // Files no one but root may read, a folder no one but root may write into, a mount
        // point, a sparse file of 1.5 GiB and, for a child that becomes nobody, a runtime folder.
        testutil::writefile(folder + "/secret.bin", "secret");
        QVERIFY(
            QFile::setPermissions(folder + "/secret.bin", QFile::ReadOwner | QFile::WriteOwner));
        QVERIFY(QDir(folder).mkdir("locked"));
        if (denied && !asnobody) {
            QVERIFY(::chmod(local(folder + "/secret.bin").c_str(), 0) == 0);
            QVERIFY(::chmod(local(folder + "/locked").c_str(), 0555) == 0);
        }
        QVERIFY(QDir(folder).mkdir("small"));
        QVERIFY(QDir(folder).mkdir("far"));
        QVERIFY(testutil::makesparse(folder + "/huge.bin", off_t(3) << 29));
        if (asnobody) {
            QVERIFY(QDir(folder).mkdir("run"));
            QVERIFY(::chown(local(folder + "/run").c_str(), testutil::kNobody, testutil::kNobody) ==
                    0);
            QVERIFY(::chmod(local(folder + "/run").c_str(), 0700) == 0);
            env.insert("XDG_RUNTIME_DIR", folder + "/run");
            env.insert("HOME", folder + "/run");
        }

        QProcess child;
        child.setProcessEnvironment(env);
        child.setProcessChannelMode(QProcess::MergedChannels);
        child.start(QCoreApplication::applicationFilePath(), {"--child", scenario, folder});
        QVERIFY(child.waitForFinished(240000));
        const QByteArray output = child.readAll();
        // A child that ends by a signal, as one row's does, reports it as a crash with the signal's
        // number.
        const int signal = scenario == "interrupted" ? SIGINT : 0;
        QCOMPARE(child.exitStatus(), signal ? QProcess::CrashExit : QProcess::NormalExit);
        if (child.exitCode() == kSkipped) {
            QSKIP(qPrintable("the system does not allow it: " + output));
        }
        QVERIFY2(child.exitCode() == signal, output.constData());
        QVERIFY(::chmod(local(folder + "/secret.bin").c_str(), 0600) == 0);
        QCOMPARE(windowtest::entries(folder + "/locked"), QStringList());
        QCOMPARE(windowtest::entries(folder + "/small"), QStringList());
        QCOMPARE(testutil::readfile<QByteArray>(folder + "/secret.bin"), QByteArray("secret"));
#endif
    }

    void farEndClicks_data() {
        QTest::addColumn<qint64>("topaddr");
        QTest::addColumn<QPoint>("point");
        QTest::addColumn<int>("selpos");
        QTest::addColumn<bool>("editor");
        QTest::addColumn<QString>("panel");
        QTest::addColumn<QByteArray>("stored");  // the document after a pick from the list

        const qint64 farthest = INT32_MAX - 3;
        const QString was = QStringLiteral("Addr.:1");  // what an ignored point leaves
        QTest::newRow("far, cell 0")
            << farthest << QPoint(10, 5) << INT32_MAX - 3 << false << was << QByteArray("\x10\x20");
        QTest::newRow("far, cell 3 at 2^31 - 1")
            << farthest << QPoint(60, 25) << INT32_MAX << false << was << QByteArray("\x10\x20");
        QTest::newRow("far, last whole cell")
            << farthest << QPoint(99, 239) << INT32_MAX << false << was << QByteArray("\x10\x20");
        QTest::newRow("far, strip below the rows")
            << farthest << QPoint(10, 242) << INT32_MAX << false << was << QByteArray("\x10\x20");
        QTest::newRow("far, right margin")
            << farthest << QPoint(120, 5) << -1 << false << was << QByteArray("\x10\x20");
        QTest::newRow("top, cell 0")
            << qint64(0) << QPoint(10, 5) << 0 << true << "Addr.:0" << QByteArray("\x7A\x20");
        QTest::newRow("top, end marker")
            << qint64(0) << QPoint(10, 25) << 2 << false << was << QByteArray("\x10\x20");
    }

    void farEndClicks() {
        QFETCH(qint64, topaddr);
        QFETCH(QPoint, point);
        QFETCH(int, selpos);
        QFETCH(bool, editor);
        QFETCH(QString, panel);
        QFETCH(QByteArray, stored);
        windowtest::solidfont(form);
        windowtest::setdocument(form, std::vector<std::uint8_t>{0x10, 0x20});
        QCOMPARE(form->topaddr(), 0);
        QCOMPARE(form->cols(), 2);
        form->Image1Click(QPoint(10, 5));
        form->Image1MouseMove(QPoint(60, 5));
        QVERIFY(form->cbc->isVisible());
        QCOMPARE(form->panels[1]->text(), QStringLiteral("Addr.:1"));
        // Scrolled there, past the document's rows.
        form->sbv->setMaximum(INT32_MAX);
        form->sbv->setValue(int(topaddr / form->cols()));
        QCOMPARE(form->topaddr(), topaddr);

        form->Image1Click(point);
        form->Image1MouseMove(point);

        QCOMPARE(form->selpos(), selpos);
        QCOMPARE(form->cbc->isVisible(), editor);
        QCOMPARE(form->panels[1]->text(), panel);
        form->cbcChange(0x7A);
        QCOMPARE(document(), stored);
        // Drawn anew there, the grid shows what the rules say, which is nothing when scrolled off.
        form->redraw();
        const QString fault = windowtest::gridfault(form);
        QVERIFY2(fault.isEmpty(), qPrintable(fault));
        const QImage picture = form->Image1->picture();
        QCOMPARE(windowtest::coloursin(picture) == QSet{windowtest::kWhite}, topaddr != 0);
    }
};

int main(int argc, char* argv[]) {
#ifndef _WIN32
    if (argc == 4 && std::strcmp(argv[1], "--child") == 0) {
        return childmain(argv[0], argv[2], argv[3]);
    }
#endif
    QApplication app(argc, argv);
    app.setAttribute(Qt::AA_Use96Dpi, true);
    WindowFaultTest test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "window_fault_test.moc"
