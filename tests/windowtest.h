// Helpers for the widget tests: answering the window's dialogs as they come up and reading back
// what a message box said, whole-file reads and writes, the window of a test with its folder,
// running Open or Save through its dialog, a snapshot of the window, and what the grid must show
// (the byte labels and colours written out, and the pixels of a picture).
#pragma once

#include <QAbstractNativeEventFilter>
#include <QApplication>
#include <QByteArray>
#include <QComboBox>
#include <QCompleter>
#include <QCryptographicHash>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHash>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QRgb>
#include <QScrollBar>
#include <QSet>
#include <QStatusBar>
#include <QString>
#include <QTemporaryDir>
#include <QTest>
#include <QWindow>

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include <xcb/xproto.h>

#include "main/gridimage.h"
#include "main/gridpaint.h"
#include "main/tform1.h"
#include "tests/testutil.h"

namespace windowtest {

using tessarin::DispMode;
using tessarin::TForm1;

// Answers the window's dialogs the moment each is shown, and notes every dialog shown. Answers
// wait in the order their dialogs are to come up: each modal dialog takes the first one when it is
// shown, and it runs once the dialog's own event loop runs. A modal dialog that finds no answer
// waiting is noted and closed, so that a test fails instead of hanging on it.
class Dialogs : public QObject {
public:
    // The application's, made on first use.
    static Dialogs& get() {
        static QPointer<Dialogs> dialogs;
        if (dialogs == nullptr) {
            dialogs = new Dialogs(qApp);
        }
        return *dialogs;
    }

    void answernext(std::function<void(QDialog*)> answer) { answers_.push_back(std::move(answer)); }
    std::size_t waiting() const { return answers_.size(); }
    void dropwaiting() { answers_.clear(); }

    // Every dialog shown, in order: its class, and a message box's caption after it.
    QStringList seen;
    // The modal dialogs that found no answer waiting, or one for another kind of dialog, with
    // what they said.
    QStringList unanswered;
    // Runs the moment a progress dialog is shown, while the operation waits for it.
    std::function<void(QProgressDialog*)> onprogress;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        auto* dialog = event->type() == QEvent::Show && !event->spontaneous()
                           ? qobject_cast<QDialog*>(watched)
                           : nullptr;
        if (dialog == nullptr || !dialog->isWindow()) {
            return false;
        }
        const auto* box = qobject_cast<QMessageBox*>(dialog);
        const QString name = QString::fromLatin1(dialog->metaObject()->className()) +
                             (box != nullptr ? ' ' + box->windowTitle() : QString());
        seen << name;
        if (auto* progress = qobject_cast<QProgressDialog*>(dialog); progress && onprogress) {
            onprogress(progress);
        }
        if (!dialog->isModal()) {
            return false;
        }
        std::function<void(QDialog*)> answer;
        if (!answers_.empty()) {
            answer = std::move(answers_.front());
            answers_.pop_front();
        }
        // The answer is for this showing only: a dialog is shown again the next time it is used.
        const int showing = ++showings_;
        dialog->setProperty(kShowing, showing);
        const QPointer<QDialog> shown = dialog;
        const QString said = name + (box != nullptr ? ": " + box->text() : QString());
        QMetaObject::invokeMethod(
            this,
            [this, shown, showing, said, answer = std::move(answer)] {
                if (shown == nullptr || !shown->isVisible() ||
                    shown->property(kShowing).toInt() != showing) {
                    return;
                }
                if (!answer) {
                    unanswered << said;
                    shown->reject();
                    return;
                }
                answer(shown);
            },
            Qt::QueuedConnection);
        return false;
    }

private:
    explicit Dialogs(QObject* parent) : QObject(parent) { qApp->installEventFilter(this); }

    static constexpr const char* kShowing = "windowtest-showing";
    std::deque<std::function<void(QDialog*)>> answers_;
    int showings_ = 0;
};

// Answers the next modal dialog with `answer` when it is a T; a dialog of another kind is closed
// and noted as unanswered. The dialog is closed unless the answer ended it.
template <typename T, typename F>
void answernext(F answer) {
    Dialogs::get().answernext([answer = std::move(answer)](QDialog* dialog) mutable {
        const QPointer<QDialog> shown = dialog;
        if (auto* wanted = qobject_cast<T*>(dialog)) {
            answer(wanted);
        } else {
            Dialogs::get().unanswered << QStringLiteral("%1 where a %2 was awaited")
                                             .arg(QLatin1String(dialog->metaObject()->className()),
                                                  QLatin1String(T::staticMetaObject.className()));
        }
        if (shown != nullptr && shown->isVisible()) {
            shown->reject();
        }
    });
}

// Closes the next modal dialog, as its Cancel or Esc does.
inline void closenext() {
    answernext<QDialog>([](QDialog*) {});
}

// Types `path` into a file dialog and ends it with OK; false when the dialog did not take the
// name. The name field ignores a selection made while it has the focus, so the focus is taken away
// first. A folder's name makes the dialog open that folder on OK, so for a folder the dialog is
// ended directly, as if the user had chosen it.
inline bool answerfiledialog(QFileDialog* dialog, const QString& path) {
    if (QWidget* focus = dialog->focusWidget()) {
        focus->clearFocus();
    }
    dialog->selectFile(path);
    // accept() and done() are public in QDialog, protected in QFileDialog.
    if (QFileInfo(path).isDir()) {
        static_cast<QDialog*>(dialog)->done(QDialog::Accepted);
    } else {
        static_cast<QDialog*>(dialog)->accept();
    }
    return dialog->result() == QDialog::Accepted;
}

// Accepts the next file dialog with `path` typed into it.
inline void choosefile(const QString& path) {
    answernext<QFileDialog>([path](QFileDialog* dialog) { answerfiledialog(dialog, path); });
}

// What typefile() saw: whether the completion list came up, the name field's text at Enter, and
// whether Enter ended the dialog (it is cancelled otherwise, so that the test goes on).
struct Typed {
    bool popped = false;
    QString text;
    bool accepted = false;
    // For a folder, which the dialog enters on Enter: the dialog's folder, its name field and
    // whether a list was up, once the folder was read.
    QString folder;
    QString after;
    bool poppedafter = false;
};

// Types `path` into the next file dialog and presses Enter once the name field's completion list
// is up, as a person at the keyboard does: the keys go through the dialog's window, so the list
// takes them as it would on a desktop. What comes before `path`'s last character must already
// name an entry of its folder, for the list to have something to show.
inline std::shared_ptr<Typed> typefile(const QString& path) {
    auto typed = std::make_shared<Typed>();
    answernext<QFileDialog>([path, typed](QFileDialog* dialog) {
        auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        if (name == nullptr || name->completer() == nullptr) {
            return;
        }
        // Keys typed before the window manager made the dialog active would go elsewhere. (Qt
        // counts a dialog active while the window it belongs to is: the focus window is asked.)
        if (!QTest::qWaitFor(
                [dialog] { return QGuiApplication::focusWindow() == dialog->windowHandle(); },
                30000)) {
            qWarning("typefile: the file dialog never became active");
            return;
        }
        QWindow* window = dialog->windowHandle();
        for (const QChar c : path.chopped(1)) {
            QTest::keyClick(window, c.toLatin1());
        }
        // The dialog reads the folder in the background; the list can only come up for the last
        // key once the entries are in.
        const QCompleter* completer = name->completer();
        if (!QTest::qWaitFor([completer] { return completer->completionCount() > 0; }, 30000)) {
            qWarning("typefile: the dialog never listed a match for %s", qPrintable(name->text()));
        }
        QTest::keyClick(window, path.back().toLatin1());
        typed->popped =
            QTest::qWaitFor([] { return QApplication::activePopupWidget() != nullptr; }, 30000);
        typed->text = name->text();
        bool folderread = false;
        const auto* model = dialog->findChild<QFileSystemModel*>();
        // Disconnected before `folderread` goes: the dialog and its model outlive this answer.
        const QMetaObject::Connection watch =
            QObject::connect(model, &QFileSystemModel::directoryLoaded, dialog,
                             [&folderread, path](const QString& folder) {
                                 folderread = folderread || QDir(folder) == QDir(path);
                             });
        QTest::keyClick(window, Qt::Key_Return);
        typed->accepted = !dialog->isVisible();
        if (!typed->accepted) {
            if (QFileInfo(path).isDir() && !QTest::qWaitFor([&] { return folderread; }, 30000)) {
                qWarning("typefile: the dialog never read %s", qPrintable(path));
            }
            QCoreApplication::processEvents();
            typed->folder = dialog->directory().absolutePath();
            typed->after = name->text();
            typed->poppedafter = QApplication::activePopupWidget() != nullptr;
        }
        QObject::disconnect(watch);
    });
    return typed;
}

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

// A whole file's bytes; "<unreadable>" when it cannot be read, so that a missing file never
// passes for an empty one.
inline QByteArray readall(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

// Writes a new file; false when the name exists or the write fails.
inline bool writeall(const QString& path, const QByteArray& data) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::NewOnly) && file.write(data) == data.size();
}

// What a message box showed.
struct Box {
    bool shown = false;
    QString caption;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QRect geometry;                              // with its frame
    std::chrono::steady_clock::time_point came;  // when it came up
};

// Records and closes the next message box, once it is up whole and `settled` holds for it (with
// a bound: what it was then is recorded). Keep the returned pointer until the box was shown.
inline std::shared_ptr<Box> closenextbox(std::function<bool(const QMessageBox*)> settled = {}) {
    auto box = std::make_shared<Box>();
    answernext<QMessageBox>([box, settled](QMessageBox* message) {
        box->came = std::chrono::steady_clock::now();
        box->shown = true;
        box->caption = message->windowTitle();
        box->text = message->text();
        box->icon = message->icon();
        // Where windows have frames, the window manager adds the box's frame once it is up.
        if (!QTest::qWaitForWindowExposed(message, 30000) ||
            (QGuiApplication::platformName() != QLatin1String("offscreen") &&
             !QTest::qWaitFor(
                 [message] { return !message->windowHandle()->frameMargins().isNull(); }, 30000))) {
            qWarning("closenextbox: the box was never shown whole");
        }
        if (settled) {
            (void)QTest::qWaitFor([&] { return settled(message); }, 30000);
        }
        // The window's own: the widget's frame may be an old one.
        box->geometry = message->windowHandle()->frameGeometry();
        message->accept();
    });
    return box;
}

// What the error box says for an I/O error code: the message, ended with a full stop.
inline QString boxtext(int code) {
    return QString::fromStdString(testutil::iomessage(code)) + QLatin1Char('.');
}

inline QByteArray asbytearray(const std::vector<std::uint8_t>& bytes) {
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size()));
}

// testutil::randombytes as a QByteArray.
inline QByteArray randombytes(std::uint64_t seed, std::size_t size) {
    return asbytearray(testutil::randombytes(seed, size));
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

// What a command met on its way through its file dialog: the message box that followed, if any,
// and every dialog shown (see Dialogs::seen).
struct Ran {
    Box box;
    QStringList seen;
};

// A test's main window and its scratch folder. A test's init() calls startwindow() and its
// cleanup() endwindow(), which also drops the answers no dialog took, fails the test for a modal
// dialog that found no answer, and makes current again the folder that was current at the start
// (Open makes the folder of the file it opened current).
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
    QByteArray document() const { return asbytearray(form->bindata()); }

    // Runs `command` (Open or Save) with `target` given to its file dialog, which must take it;
    // no other answer may be waiting. `afteraccept` runs once the dialog has taken the name,
    // before the command goes on; a message box that follows is recorded once `settled` holds for
    // it (see closenextbox), and closed.
    Ran run(void (TForm1::*command)(), const QString& target,
            const std::function<void()>& afteraccept = {},
            const std::function<bool(const QMessageBox*)>& settled = {}) {
        Dialogs& dialogs = Dialogs::get();
        dialogs.seen.clear();
        bool accepted = false;
        std::shared_ptr<Box> box;
        answernext<QFileDialog>([&](QFileDialog* dialog) {
            accepted = answerfiledialog(dialog, target);
            if (accepted) {
                box = closenextbox(settled);
                if (afteraccept) {
                    afteraccept();
                }
            }
        });
        (form->*command)();
        // An answer for a message box that never came.
        dialogs.dropwaiting();
        if (!accepted) {
            QTest::qFail(qPrintable("the file dialog did not take " + target), __FILE__, __LINE__);
        }
        return {box ? *box : Box(), dialogs.seen};
    }
    // Opens `target`, which must load: the caption names it.
    Ran open(const QString& target) {
        Ran ran = run(&TForm1::Button1Click, target);
        (void)QTest::qCompare(form->windowTitle(), QStringLiteral("Tessarin - ") + target,
                              "caption", "Tessarin - target", __FILE__, __LINE__);
        return ran;
    }
    Ran save(const QString& target, const std::function<void()>& afteraccept = {},
             const std::function<bool(const QMessageBox*)>& settled = {}) {
        return run(&TForm1::Button3Click, target, afteraccept, settled);
    }

    TForm1* form = nullptr;

private:
    std::unique_ptr<TForm1> window_;
    std::unique_ptr<QTemporaryDir> dir_;
    QString folder_;
    QString startdir_;
};

// The name of display mode `mode` in the names of test rows (0 ASCII, 1 hex, 2 binary, 3 decimal,
// as DispMode counts).
inline const char* modename(int mode) {
    static const char* const names[] = {"ascii", "hex", "bin", "dec"};
    return names[mode];
}

// A new test row named by display mode `mode` and `more`, with the mode as its first value.
inline QTestData& moderow(int mode, const char* more = "") {
    return QTest::addRow("%s%s", modename(mode), more) << mode;
}

// One test row for each display mode, in the column "mode".
inline void addmoderows() {
    QTest::addColumn<int>("mode");
    for (int mode = 0; mode < 4; ++mode) {
        moderow(mode);
    }
}

// Draws the grid in its font without antialiasing, so that every pixel is white or a class
// colour.
inline void solidfont(TForm1* form) {
    QFont font = form->gridfont();
    font.setStyleStrategy(QFont::NoAntialias);
    form->setgridfont(font);
}

// The button of display mode `mode` (0 ASCII, 1 hex, 2 binary, 3 decimal, as DispMode counts).
inline QRadioButton* modebutton(const TForm1* form, int mode) {
    QRadioButton* const buttons[] = {form->rb_mdASCII, form->rb_mbHEX, form->rb_mbbin,
                                     form->rb_mbdec};
    return buttons[mode];
}

// What byte b is called in a mode: in the grid, in the byte editor and, but for ASCII mode, in a
// saved text. In ASCII mode a byte above 127 reads as a single Shift_JIS byte: A1 to DF are the
// half-width katakana U+FF61 to U+FF9F, any other is no character (U+FFFD).
inline QString label(int b, DispMode mode) {
    QString text;
    switch (mode) {
        case DispMode::hex:
            return QString::asprintf("%02X", b);
        case DispMode::dec:
            return QString::asprintf("%03d", b);
        case DispMode::bin:
            for (int bit = 7; bit >= 0; --bit) {
                text += QLatin1Char((b >> bit) & 1 ? '1' : '0');
            }
            return text;
        case DispMode::ascii:
            break;
    }
    if (b < 128) {
        return QString::fromStdString(testutil::asciilabel(b));
    }
    return QChar(b >= 0xA1 && b <= 0xDF ? char16_t(0xFF61 + (b - 0xA1)) : char16_t(0xFFFD));
}

// The file Save writes for `bytes` in `mode`: the bytes themselves in ASCII mode, else their
// labels one after another.
inline QByteArray savedtext(const std::vector<std::uint8_t>& bytes, DispMode mode) {
    if (mode == DispMode::ascii) {
        return asbytearray(bytes);
    }
    QByteArray labels[256];
    for (int b = 0; b < 256; ++b) {
        labels[b] = label(b, mode).toLatin1();
    }
    QByteArray text;
    text.reserve(qsizetype(bytes.size()) * labels[0].size());
    for (const std::uint8_t b : bytes) {
        text += labels[b];
    }
    return text;
}

// The colours the grid is drawn in, by the names the README gives them.
constexpr QRgb kWhite = qRgb(255, 255, 255);
constexpr QRgb kLime = qRgb(0, 255, 0);
constexpr QRgb kGrey = qRgb(128, 128, 128);
constexpr QRgb kBlack = qRgb(0, 0, 0);
constexpr QRgb kBlue = qRgb(0, 0, 255);
constexpr QRgb kRed = qRgb(255, 0, 0);

// Any colour but the white ground.
inline bool isink(QRgb colour) {
    return colour != kWhite;
}

// The colour of byte b's label: a line break lime, any other control code grey, a 7-bit
// character black (127 too), an 8-bit byte blue.
inline QRgb inkof(int b) {
    return b == 10 || b == 13 ? kLime : b < 32 ? kGrey : b < 128 ? kBlack : kBlue;
}

// Calls `visit` with each device pixel of the logical rectangle `area` of `picture` (clipped to
// it; the whole picture when `area` is null) and its colour, made opaque.
inline void eachpixel(const QImage& picture, QRect area,
                      const std::function<void(QPoint, QRgb)>& visit) {
    const qreal ratio = picture.devicePixelRatio();
    if (area.isNull()) {
        area = QRect(QPoint(0, 0), picture.deviceIndependentSize().toSize());
    }
    const QRect device =
        QRect(QPoint(int(area.left() * ratio), int(area.top() * ratio)),
              QPoint(int((area.right() + 1) * ratio) - 1, int((area.bottom() + 1) * ratio) - 1))
            .intersected(picture.rect());
    for (int y = device.top(); y <= device.bottom(); ++y) {
        for (int x = device.left(); x <= device.right(); ++x) {
            visit({x, y}, picture.pixel(x, y) | 0xFF000000u);
        }
    }
}

// The colours in `area` (see eachpixel).
inline QSet<QRgb> coloursin(const QImage& picture, const QRect& area = {}) {
    QSet<QRgb> colours;
    eachpixel(picture, area, [&colours](QPoint, QRgb colour) { colours.insert(colour); });
    return colours;
}

// The smallest rectangle of device pixels that holds every pixel of `area` (see eachpixel)
// whose colour satisfies `match`; empty when there is none.
inline QRect inkbox(const QImage& picture, const QRect& area,
                    const std::function<bool(QRgb)>& match) {
    QRect box;
    eachpixel(picture, area, [&](QPoint p, QRgb colour) {
        if (match(colour)) {
            box |= QRect(p, QSize(1, 1));
        }
    });
    return box;
}

inline QRect inkbox(const QImage& picture, const QRect& area, QRgb colour) {
    return inkbox(picture, area, [colour](QRgb p) { return p == colour; });
}

}  // namespace windowtest
