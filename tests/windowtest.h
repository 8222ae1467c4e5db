// The window of a widget test: the window with its scratch folder, Open and Save run on it with
// what their message box said recorded, resizing it as a user would, a snapshot of it, and what
// the error box says, and the paths the process opens and looks up. Includes the dialog answerer
// and what the grid must show. On Windows neither the folder watches nor the paths can be listed.
#pragma once

#include <QAbstractNativeEventFilter>
#include <QApplication>
#include <QByteArray>
#include <QComboBox>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QGroupBox>
#include <QHash>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QStatusBar>
#include <QTemporaryDir>

#ifndef _WIN32
#include <dlfcn.h>
#include <fcntl.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <xcb/xproto.h>

#include <cerrno>
#include <cstddef>
#include <fstream>
#include <future>
#include <mutex>
#include <thread>
#include <vector>
#endif

#include <atomic>

#include "main/gridimage.h"
#include "main/tform1.h"
#include "tests/dialogs.h"
#include "tests/expectedgrid.h"
#include "tests/testutil.h"

namespace windowtest {

using tessarin::DispMode;
using tessarin::TForm1;

#ifdef _WIN32
// The window's dialogs are the system's own on Windows, which the tests answer only where they
// must: the test programs have Qt's, as the other systems do.
inline void usewidgetdialogs() {
    QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
}
Q_COREAPP_STARTUP_FUNCTION(usewidgetdialogs)
#else
// The user's settings folder of a test program: a scratch folder, never the tester's.
inline const QTemporaryDir settingsfolder;
inline void scratchsettings() {
    qputenv("XDG_CONFIG_HOME", settingsfolder.path().toLocal8Bit());
}
Q_COREAPP_STARTUP_FUNCTION(scratchsettings)
#endif

#ifdef _WIN32
// Windows gives a window the size asked for at once; only the X server's sizes are waited for.
struct ConfiguredSizes {
    QHash<WId, QSize> sizes;
};
#else
// The sizes the X server last gave each window, from its ConfigureNotify events.
class ConfiguredSizes : public QAbstractNativeEventFilter {
public:
    ConfiguredSizes() { QCoreApplication::instance()->installNativeEventFilter(this); }
    // A function's static outlives the application, which forgets its filters as it goes.
    ~ConfiguredSizes() override {
        if (QCoreApplication* app = QCoreApplication::instance()) {
            app->removeNativeEventFilter(this);
        }
    }

    bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override {
        const auto* event = static_cast<const xcb_generic_event_t*>(message);
        if (type == "xcb_generic_event_t" &&
            (event->response_type & 0x7F) == XCB_CONFIGURE_NOTIFY) {
            const auto* configure = static_cast<const xcb_configure_notify_event_t*>(message);
            sizes[configure->window] = QSize(configure->width, configure->height);
        }
        return false;
    }

    QHash<WId, QSize> sizes;
};
#endif

// Resizes the shown top-level `window` as a user's drag would, and waits (30 s at most) until the
// window system has given it that size (held to its least size); false when it did not. Under a
// window manager a size is given when the window manager answers, and answers to earlier sizes
// may still be on their way: they would take the window back to an old size for a moment.
inline bool resizewindow(QWidget* window, QSize size) {
    static ConfiguredSizes configured;
    size = size.expandedTo(window->minimumSize());
    if (window->size() == size) {
        return true;
    }
    window->resize(size);
    const bool x11 = QGuiApplication::platformName() == QLatin1String("xcb");
    const QSize native = size * window->devicePixelRatio();
    return QTest::qWaitFor(
        [&] {
            return window->size() == size &&
                   (!x11 || configured.sizes.value(window->winId()) == native);
        },
        30000);
}

#ifndef _WIN32
// Whether any inotify instance of the process watches `folder`: /proc/self/fdinfo lists each
// watch of one with the inode in hexadecimal.
inline bool watched(const QString& folder) {
    struct stat st {};
    if (::stat(QFile::encodeName(folder).constData(), &st) != 0) {
        return false;
    }
    const QByteArray inode = " ino:" + QByteArray::number(qulonglong(st.st_ino), 16) + ' ';
    const QDir fdinfo(QStringLiteral("/proc/self/fdinfo"));
    for (const QString& fd : fdinfo.entryList(QDir::Files)) {
        for (const QByteArray& line :
             testutil::readfile<QByteArray>(fdinfo.filePath(fd)).split('\n')) {
            if (line.startsWith("inotify ") && line.contains(inode)) {
                return true;
            }
        }
    }
    return false;
}

// The paths the watched threads open while `recording` is set, and those the window's thread
// opens or looks up (stat, statx, statfs for pathconf; not lstat, which stops at the link).
struct Lookups {
    std::atomic<bool> recording = false;
    std::mutex mutex;  // held over the lists
    QStringList opened;
    QStringList looked;
};

// Starts the watch, by the window's thread, on first use; nullptr where the system allows none. The
// system hands each call of the C library that names a path, made by the window's thread or one it
// starts from then on (the dialogs' listers), to a thread of the watch (seccomp's user
// notification), which notes the path and lets the call go on; the sanitizer runtimes' own calls
// leave the C library out. The watch stays: a process cannot take back its filters. Its own
// thread is watched too, and makes no such call.
inline Lookups* lookups() {
    static Lookups* const started = []() -> Lookups* {
        // The C library's code: the mapping that holds its statx().
        const auto libc = reinterpret_cast<std::uintptr_t>(
            ::dlsym(::dlopen("libc.so.6", RTLD_LAZY | RTLD_NOLOAD), "statx"));
        std::uintptr_t from = 0, to = 0;
        std::ifstream maps("/proc/self/maps");
        for (char dash = 0;
             maps >> std::hex >> from >> dash >> to && (libc < from || libc >= to);) {
            maps.ignore(1 << 12, '\n');
        }
        const std::vector<long> calls = {SYS_openat, SYS_newfstatat, SYS_statx,
                                         SYS_statfs, SYS_open,       SYS_stat};
        const auto n = std::uint8_t(calls.size());
        constexpr std::uint32_t kAt = offsetof(seccomp_data, instruction_pointer);
        std::vector<sock_filter> program = {
            // Calls from outside the C library's code go on.
            BPF_STMT(BPF_LD | BPF_W | BPF_ABS, kAt + 4),
            BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, std::uint32_t(from >> 32), 0, std::uint8_t(4 + n)),
            BPF_STMT(BPF_LD | BPF_W | BPF_ABS, kAt),
            BPF_JUMP(BPF_JMP | BPF_JGE | BPF_K, std::uint32_t(from), 0, std::uint8_t(2 + n)),
            BPF_JUMP(BPF_JMP | BPF_JGE | BPF_K, std::uint32_t(to), std::uint8_t(1 + n), 0),
            BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr))};
        for (std::uint8_t i = 0; i < n; ++i) {
            program.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, std::uint32_t(calls[i]),
                                       std::uint8_t(n - i), 0));
        }
        program.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
        program.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_USER_NOTIF));
        const sock_fprog filter{std::uint16_t(program.size()), program.data()};
        static Lookups lookups;
        std::promise<int> listener;
        std::thread([calls = listener.get_future(), window = ::gettid()]() mutable {
            const int fd = calls.get();
            for (seccomp_notif call{}; fd >= 0; call = {}) {
                if (::ioctl(fd, SECCOMP_IOCTL_NOTIF_RECV, &call) != 0) {
                    if (errno != EINTR && errno != ENOENT) {
                        return;
                    }
                    continue;
                }
                const auto nr = call.data.nr;
                const bool at = nr == SYS_openat || nr == SYS_newfstatat || nr == SYS_statx;
                const bool lstat =
                    nr == SYS_newfstatat && (call.data.args[3] & AT_SYMLINK_NOFOLLOW) != 0;
                if (lookups.recording && !lstat) {
                    const QString path = QFile::decodeName(
                        reinterpret_cast<const char*>(call.data.args[at ? 1 : 0]));
                    const std::lock_guard lock(lookups.mutex);
                    if (nr == SYS_openat || nr == SYS_open) {
                        lookups.opened << path;
                    }
                    if (pid_t(call.pid) == window) {
                        lookups.looked << path;
                    }
                }
                seccomp_notif_resp answer{call.id, 0, 0, SECCOMP_USER_NOTIF_FLAG_CONTINUE};
                (void)::ioctl(fd, SECCOMP_IOCTL_NOTIF_SEND, &answer);
            }
        }).detach();
        const long fd = from != 0 && ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0
                            ? ::syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER,
                                        SECCOMP_FILTER_FLAG_NEW_LISTENER, &filter)
                            : -1;
        listener.set_value(int(fd));
        return fd < 0 ? nullptr : &lookups;
    }();
    return started;
}
#endif

// Notes that an object had an event of a type (a window's close request, a widget's paint), for
// any thread to read.
class EventSeen : public QObject {
public:
    EventSeen(QObject* watched, QEvent::Type type) : type_(type) {
        watched->installEventFilter(this);
    }
    std::atomic<bool> seen{false};

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == type_) {
            seen = true;
        }
        return false;
    }

private:
    QEvent::Type type_;
};

// The entries of a folder, hidden ones included; empty for a folder that does not exist.
inline QStringList entries(const QString& folder) {
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                  QDir::NoDotAndDotDot);
}

// What the error box says for an I/O error code: the message, ended with a full stop.
inline QString boxtext(int code) {
    return QString::fromStdString(testutil::iomessage(code)) + QLatin1Char('.');
}

// Puts `bytes` in the window as the document, without a file, as a load would, scrolled to the
// top.
inline void setdocument(TForm1* form, std::vector<std::uint8_t> bytes) {
    form->sbv->setValue(0);
    form->showdocument(std::move(bytes));
}

inline void setdocument(TForm1* form, const QByteArray& bytes) {
    setdocument(form, std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
}

// What the window holds and shows, to tell that something left it as it was: the document (by
// its digest), the view and its scroll bar, the selection and the byte editor, the caption, the
// panels and, unless left out, the grid's picture (by its digest), which must be there.
enum class Picture { in, out };
inline QVariantList snapshot(const TForm1* form, Picture withpicture = Picture::in) {
    const auto digest = [](const char* data, qsizetype size) {
        return QCryptographicHash::hash(QByteArrayView(data, size), QCryptographicHash::Sha1)
            .toHex();
    };
    const std::vector<std::uint8_t>& document = form->bindata();
    const QImage& picture = form->Image1->picture();
    QVariantList state{
        digest(reinterpret_cast<const char*>(document.data()), qsizetype(document.size())),
        qint64(document.size()),
        qint64(form->topaddr()),
        form->cols(),
        form->selpos(),
        form->cbc->isVisible(),
        form->sbv->minimum(),
        form->sbv->maximum(),
        form->sbv->value(),
        form->sbv->pageStep(),
        form->sbv->singleStep(),
        form->windowTitle(),
    };
    for (const QLabel* panel : form->panels) {
        state << panel->text();
    }
    if (withpicture == Picture::in) {
        (void)QTest::qVerify(!picture.isNull(), "!picture.isNull()", "the grid has no picture",
                             __FILE__, __LINE__);
        state << digest(reinterpret_cast<const char*>(picture.constBits()), picture.sizeInBytes())
              << picture.size();
    }
    return state;
}

// What a command met: the message box that followed, if any, and every dialog shown (see
// Dialogs::seen).
struct Ran {
    Box box;
    QStringList seen;
};

// A test's main window and its scratch folder. A test's init() calls startwindow() and its
// cleanup() endwindow(), which also drops the answers no dialog took, fails the test for a modal
// dialog that found no answer, and makes current again the folder that was current at the start
// (Open's dialog makes the folder of the file it opened current).
enum class Start { shown, hidden };
class Fixture {
public:
    // Makes the window and a scratch folder, or takes `folder`; false when the folder cannot be
    // made or the window, to be shown, is not.
    bool startwindow(Start start = Start::shown, const QString& folder = {}) {
        // The entry point's title, which the window's caption and boxes take.
        QCoreApplication::setApplicationName(QStringLiteral("Tessarin"));
        startdir_ = QDir::currentPath();
        folder_ = folder;
        if (folder_.isEmpty()) {
            dir_ = std::make_unique<QTemporaryDir>();
            folder_ = dir_->isValid() ? dir_->path() : QString();
        }
        newwindow();
        return !folder_.isEmpty() && (start == Start::hidden || showform());
    }

    void endwindow() {
        Dialogs& dialogs = Dialogs::get();
        const QStringList unanswered = std::exchange(dialogs.unanswered, {});
        dialogs.dropwaiting();
        dialogs.seen.clear();
        dialogs.onprogress = {};
        window_.reset();
        form = nullptr;
        QDir::setCurrent(startdir_);
        dir_.reset();
        QVERIFY2(unanswered.isEmpty(),
                 qPrintable("dialogs nobody answered: " + unanswered.join(QStringLiteral("; "))));
    }

    // Makes the window anew, not shown.
    void newwindow() {
        window_.reset();
        window_ = std::make_unique<TForm1>();
        form = window_.get();
    }

    bool showform() {
        form->show();
        return QTest::qWaitForWindowExposed(form);
    }

    const QString& scratch() const { return folder_; }
    QString filepath(const QString& name) const { return folder_ + QLatin1Char('/') + name; }
    // Writes a file of the scratch folder anew; its path.
    QString scratchfile(const QString& name, testutil::Content content) const {
        testutil::writefile(filepath(name), content);
        return filepath(name);
    }
    QByteArray document() const { return asbytearray(form->bindata()); }

    // Runs `command` (Open or Save) with `target` given to its file dialog, which must take it;
    // no other answer may be waiting. A message box that follows is recorded as act() does.
    Ran run(void (TForm1::*command)(), const QString& target) {
        bool accepted = false;
        answernext<QFileDialog>(
            [&](QFileDialog* dialog) { accepted = answerfiledialog(dialog, target); });
        Ran ran = act([&] { (form->*command)(); });
        if (!accepted) {
            QTest::qFail(qPrintable("the file dialog did not take " + target), __FILE__, __LINE__);
        }
        return ran;
    }
    // Runs `command`, such as a call of openfile() or savefile(), and records and closes the
    // message box that follows, if any, once `settled` holds for it (see closenextbox).
    Ran act(const std::function<void()>& command,
            const std::function<bool(const QMessageBox*)>& settled = {}) {
        Dialogs& dialogs = Dialogs::get();
        dialogs.seen.clear();
        const std::shared_ptr<Box> box = closenextbox(settled);
        command();
        // The answer for a message box that never came.
        dialogs.dropwaiting();
        return {*box, dialogs.seen};
    }

    // Opens `target` as Open does with the path its dialog returned; it must load: the caption
    // names it.
    Ran open(const QString& target) {
        Ran ran = act([&] { form->openfile(target); });
        (void)QTest::qCompare(form->windowTitle(),
                              QStringLiteral("Tessarin - ") + QDir::toNativeSeparators(target),
                              "caption", "Tessarin - target", __FILE__, __LINE__);
        return ran;
    }
    // Saves under `target` as Save does with the path its dialog returned. A message box that
    // follows is recorded as act() does.
    Ran save(const QString& target, const std::function<bool(const QMessageBox*)>& settled = {}) {
        return act([&] { form->savefile(target); }, settled);
    }

    TForm1* form = nullptr;

private:
    std::unique_ptr<TForm1> window_;
    std::unique_ptr<QTemporaryDir> dir_;
    QString folder_;
    QString startdir_;
};

// Draws the grid in its font without antialiasing, so that every pixel is white or a class
// colour.
inline void solidfont(TForm1* form) {
    QFont font = form->gridfont();
    font.setStyleStrategy(QFont::NoAntialias);
    form->setgridfont(font);
}

// What is wrong in the grid's picture by the colour rules, or nothing: in every whole row in
// sight, each byte's cell holds white and its class colour only, the cell after the last byte
// white and the red end marker, any other cell white. The grid must be drawn solid (solidfont).
inline QString gridfault(const TForm1* form) {
    const QImage& picture = form->Image1->picture();
    const std::vector<std::uint8_t>& bytes = form->bindata();
    const int cols = form->cols();
    for (int cell = 0; cell < form->Image1->height() / kCellH * cols; ++cell) {
        const auto offset = std::uint64_t(form->topaddr() + cell);
        const QSet<QRgb> expected = offset < bytes.size()    ? QSet{kWhite, inkof(bytes[offset])}
                                    : offset == bytes.size() ? QSet{kWhite, kRed}
                                                             : QSet{kWhite};
        if (coloursin(picture, cellrect(cell, cols)) != expected) {
            return QStringLiteral("cell %1 (offset %2) is wrong").arg(cell).arg(offset);
        }
    }
    return {};
}

// The button of display mode `mode` (0 ASCII, 1 hex, 2 binary, 3 decimal, as DispMode counts).
inline QRadioButton* modebutton(const TForm1* form, int mode) {
    QRadioButton* const buttons[] = {form->rb_mdASCII, form->rb_mbHEX, form->rb_mbbin,
                                     form->rb_mbdec};
    return buttons[mode];
}

}  // namespace windowtest
