// Helpers for the widget tests: answering the window's modal dialogs from a timer, reading back
// what a message box said, whole-file reads and writes, putting a document in the window, and
// what the grid must show (the byte labels and colours written out, and the pixels of a picture).
#pragma once

#include <QAbstractNativeEventFilter>
#include <QApplication>
#include <QByteArray>
#include <QComboBox>
#include <QCompleter>
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
#include <QPushButton>
#include <QRadioButton>
#include <QRgb>
#include <QScrollBar>
#include <QSet>
#include <QStatusBar>
#include <QString>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include <xcb/xproto.h>

#include "main/gridimage.h"
#include "main/gridpaint.h"
#include "main/tform1.h"
#include "tests/testutil.h"

namespace windowtest {

using tessarin::DispMode;

// Runs `action` on the next modal dialog as soon as it is up. Polls, because the dialog is only
// shown once the handler under test calls exec().
inline void onnextmodal(std::function<void(QWidget*)> action) {
    auto* timer = new QTimer(qApp);
    auto shared = std::make_shared<std::function<void(QWidget*)>>(std::move(action));
    QObject::connect(timer, &QTimer::timeout, timer, [timer, shared] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr || !modal->isVisible()) {
            return;
        }
        timer->stop();
        timer->deleteLater();
        (*shared)(modal);
    });
    timer->start(5);
}

// The dialog watchers (onnextmodal) running now.
inline QList<QTimer*> watchers() {
    return qApp->findChildren<QTimer*>(Qt::FindDirectChildrenOnly);
}

// Ends the watchers started since `before`, so that one for a dialog that never came cannot
// answer a later one.
inline void dropwatchers(const QList<QTimer*>& before) {
    for (QTimer* timer : watchers()) {
        if (!before.contains(timer)) {
            delete timer;
        }
    }
}

// Types `path` into a file dialog and ends it with OK; false when `modal` is no file dialog (it is
// closed) or the dialog did not take the name. The name field ignores a selection made while it
// has the focus, so the focus is taken away first. A folder's name makes the dialog open that
// folder on OK, so for a folder the dialog is ended directly, as if the user had chosen it.
inline bool answerfiledialog(QWidget* modal, const QString& path) {
    auto* dialog = qobject_cast<QFileDialog*>(modal);
    if (dialog == nullptr) {
        modal->close();
        return false;
    }
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
    onnextmodal([path](QWidget* modal) { answerfiledialog(modal, path); });
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
    onnextmodal([path, typed](QWidget* modal) {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        auto* name = modal->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        if (dialog == nullptr || name == nullptr || name->completer() == nullptr) {
            modal->close();
            return;
        }
        // Keys typed before the window manager made the dialog active would go elsewhere. (Qt
        // counts a dialog active while the window it belongs to is: the focus window is asked.)
        if (!QTest::qWaitFor(
                [dialog] { return QGuiApplication::focusWindow() == dialog->windowHandle(); },
                30000)) {
            qWarning("typefile: the file dialog never became active");
            dialog->reject();
            return;
        }
        QWindow* window = modal->windowHandle();
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
            dialog->reject();
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

// Cancels the next modal dialog.
inline void cancelnext() {
    onnextmodal([](QWidget* modal) {
        if (auto* dialog = qobject_cast<QDialog*>(modal)) {
            dialog->reject();
        }
    });
}

// What a message box showed.
struct Box {
    bool shown = false;
    QString caption;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QRect geometry;  // with its frame
};

// Records and closes the next message box, once it is up whole and `settled` holds for it (with
// a bound: what it was then is recorded). Keep the returned pointer until the box was shown.
inline std::shared_ptr<Box> closenextbox(std::function<bool(const QMessageBox*)> settled = {}) {
    auto box = std::make_shared<Box>();
    onnextmodal([box, settled](QWidget* modal) {
        if (auto* message = qobject_cast<QMessageBox*>(modal)) {
            box->shown = true;
            box->caption = message->windowTitle();
            box->text = message->text();
            box->icon = message->icon();
            // Where windows have frames, the window manager adds the box's frame once it is up.
            if (!QTest::qWaitForWindowExposed(message, 30000) ||
                (QGuiApplication::platformName() != QLatin1String("offscreen") &&
                 !QTest::qWaitFor(
                     [message] { return !message->windowHandle()->frameMargins().isNull(); },
                     30000))) {
                qWarning("closenextbox: the box was never shown whole");
            }
            if (settled) {
                (void)QTest::qWaitFor([&] { return settled(message); }, 30000);
            }
            // The window's own: the widget's frame may be an old one.
            box->geometry = message->windowHandle()->frameGeometry();
            message->accept();
        } else if (auto* dialog = qobject_cast<QDialog*>(modal)) {
            dialog->reject();
        }
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
inline void setdocument(tessarin::TForm1* form, std::vector<std::uint8_t> bytes) {
    form->sbv->setValue(0);
    form->showdocument(std::move(bytes));
}

inline void setdocument(tessarin::TForm1* form, const QByteArray& bytes) {
    setdocument(form, std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
}

// The name of display mode `mode` in the names of test rows (0 ASCII, 1 hex, 2 binary, 3 decimal,
// as DispMode counts).
inline const char* modename(int mode) {
    static const char* const names[] = {"ascii", "hex", "bin", "dec"};
    return names[mode];
}

// One test row for each display mode, in the column "mode".
inline void addmoderows() {
    QTest::addColumn<int>("mode");
    for (int mode = 0; mode < 4; ++mode) {
        QTest::newRow(modename(mode)) << mode;
    }
}

// Draws the grid in its font without antialiasing, so that every pixel is white or a class
// colour.
inline void solidfont(tessarin::TForm1* form) {
    QFont font = form->gridfont();
    font.setStyleStrategy(QFont::NoAntialias);
    form->setgridfont(font);
}

// The button of display mode `mode` (0 ASCII, 1 hex, 2 binary, 3 decimal, as DispMode counts).
inline QRadioButton* modebutton(const tessarin::TForm1* form, int mode) {
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
