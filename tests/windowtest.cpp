// The window of a widget test (windowtest.h), and what each widget test program does at start.
#include "tests/windowtest.h"

#include <QAbstractNativeEventFilter>
#include <QCryptographicHash>

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
#include <thread>
#include <vector>
#endif

namespace windowtest {

#ifdef _WIN32
// The window's dialogs are the system's own on Windows, which the tests answer only where they
// must: the test programs have Qt's, as the other systems do.
void usewidgetdialogs() {
    QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
}
Q_COREAPP_STARTUP_FUNCTION(usewidgetdialogs)
#else
const QTemporaryDir settingsfolder;
void scratchsettings() {
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

bool resizewindow(QWidget* window, QSize size) {
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
bool watched(const QString& folder) {
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

Lookups* lookups() {
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

QStringList entries(const QString& folder) {
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                  QDir::NoDotAndDotDot);
}

QString boxtext(int code) {
    return QString::fromStdString(testutil::iomessage(code)) + QLatin1Char('.');
}

void setdocument(TForm1* form, std::vector<std::uint8_t> bytes) {
    form->sbv->setValue(0);
    form->showdocument(std::move(bytes));
}

void setdocument(TForm1* form, const QByteArray& bytes) {
    setdocument(form, std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
}

QVariantList snapshot(const TForm1* form, Picture withpicture) {
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

void solidfont(TForm1* form) {
    QFont font = form->gridfont();
    font.setStyleStrategy(QFont::NoAntialias);
    form->setgridfont(font);
}

QString gridfault(const TForm1* form) {
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

QRadioButton* modebutton(const TForm1* form, int mode) {
    QRadioButton* const buttons[] = {form->rb_mdASCII, form->rb_mbHEX, form->rb_mbbin,
                                     form->rb_mbdec};
    return buttons[mode];
}

EventSeen::EventSeen(QObject* watched, QEvent::Type type) : type_(type) {
    watched->installEventFilter(this);
}

bool EventSeen::eventFilter(QObject*, QEvent* event) {
    if (event->type() == type_) {
        seen = true;
    }
    return false;
}

bool Fixture::startwindow(Start start, const QString& folder) {
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

void Fixture::endwindow() {
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

void Fixture::newwindow() {
    window_.reset();
    window_ = std::make_unique<TForm1>();
    form = window_.get();
}

bool Fixture::showform() {
    form->show();
    return QTest::qWaitForWindowExposed(form);
}

QString Fixture::scratchfile(const QString& name, testutil::Content content) const {
    testutil::writefile(filepath(name), content);
    return filepath(name);
}

Ran Fixture::run(void (TForm1::*command)(), const QString& target) {
    bool accepted = false;
    answernext<QFileDialog>(
        [&](QFileDialog* dialog) { accepted = answerfiledialog(dialog, target); });
    Ran ran = act([&] { (form->*command)(); });
    if (!accepted) {
        QTest::qFail(qPrintable("the file dialog did not take " + target), __FILE__, __LINE__);
    }
    return ran;
}

Ran Fixture::act(const std::function<void()>& command,
                 const std::function<bool(const QMessageBox*)>& settled) {
    Dialogs& dialogs = Dialogs::get();
    dialogs.seen.clear();
    const std::shared_ptr<Box> box = closenextbox(settled);
    command();
    // The answer for a message box that never came.
    dialogs.dropwaiting();
    return {*box, dialogs.seen};
}

Ran Fixture::open(const QString& target) {
    Ran ran = act([&] { form->openfile(target); });
    (void)QTest::qCompare(form->windowTitle(),
                          QStringLiteral("Tessarin - ") + QDir::toNativeSeparators(target),
                          "caption", "Tessarin - target", __FILE__, __LINE__);
    return ran;
}

Ran Fixture::save(const QString& target, const std::function<bool(const QMessageBox*)>& settled) {
    return act([&] { form->savefile(target); }, settled);
}

}  // namespace windowtest
