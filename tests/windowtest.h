// The window of a widget test: the window with its scratch folder, Open and Save run on it with
// what their message box said recorded, resizing it as a user would, a snapshot of it, and what
// the error box says, and the paths the process opens and looks up. Includes the dialog answerer
// and what the grid must show. On Windows neither the folder watches nor the paths can be listed.
#pragma once

#include <QApplication>
#include <QByteArray>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QGroupBox>
#include <QHash>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QStatusBar>
#include <QTemporaryDir>

#include <atomic>
#include <mutex>

#include "main/gridimage.h"
#include "main/tform1.h"
#include "tests/dialogs.h"
#include "tests/expectedgrid.h"
#include "tests/testutil.h"

namespace windowtest {

using tessarin::DispMode;
using tessarin::TForm1;

#ifndef _WIN32
// A test program's settings folder (XDG_CONFIG_HOME): a scratch folder, never the tester's.
extern const QTemporaryDir settingsfolder;
#endif

// Resizes the shown top-level `window` as a user's drag would, and waits (30 s at most) until the
// window system has given it that size (held to its least size); false when it did not. Under a
// window manager a size is given when the window manager answers, and answers to earlier sizes
// may still be on their way: they would take the window back to an old size for a moment.
bool resizewindow(QWidget* window, QSize size);

#ifndef _WIN32
// Whether any inotify instance of the process watches `folder`: /proc/self/fdinfo lists each
// watch of one with the inode in hexadecimal.
bool watched(const QString& folder);

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
Lookups* lookups();
#endif

// Notes that an object had an event of a type (a window's close request, a widget's paint), for
// any thread to read.
class EventSeen : public QObject {
public:
    EventSeen(QObject* watched, QEvent::Type type);
    std::atomic<bool> seen{false};

protected:
    bool eventFilter(QObject*, QEvent* event) override;

private:
    QEvent::Type type_;
};

// The entries of a folder, hidden ones included; empty for a folder that does not exist.
QStringList entries(const QString& folder);

// What the error box says for an I/O error code: the message, ended with a full stop.
QString boxtext(int code);

// Puts `bytes` in the window as the document, without a file, as a load would, scrolled to the
// top.
void setdocument(TForm1* form, std::vector<std::uint8_t> bytes);
void setdocument(TForm1* form, const QByteArray& bytes);

// What the window holds and shows, to tell that something left it as it was: the document (by
// its digest), the view and its scroll bar, the selection and the byte editor, the caption, the
// panels and, unless left out, the grid's picture (by its digest), which must be there.
enum class Picture { in, out };
QVariantList snapshot(const TForm1* form, Picture withpicture = Picture::in);

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
    bool startwindow(Start start = Start::shown, const QString& folder = {});
    void endwindow();
    // Makes the window anew, not shown.
    void newwindow();
    bool showform();

    const QString& scratch() const { return folder_; }
    QString filepath(const QString& name) const { return folder_ + QLatin1Char('/') + name; }
    // Writes a file of the scratch folder anew; its path.
    QString scratchfile(const QString& name, testutil::Content content) const;
    QByteArray document() const { return asbytearray(form->bindata()); }

    // Runs `command` (Open or Save) with `target` given to its file dialog, which must take it;
    // no other answer may be waiting. A message box that follows is recorded as act() does.
    Ran run(void (TForm1::*command)(), const QString& target);
    // Runs `command`, such as a call of openfile() or savefile(), and records and closes the
    // message box that follows, if any, once `settled` holds for it (see closenextbox).
    Ran act(const std::function<void()>& command,
            const std::function<bool(const QMessageBox*)>& settled = {});
    // Opens `target` as Open does with the path its dialog returned; it must load: the caption
    // names it.
    Ran open(const QString& target);
    // Saves under `target` as Save does with the path its dialog returned. A message box that
    // follows is recorded as act() does.
    Ran save(const QString& target, const std::function<bool(const QMessageBox*)>& settled = {});

    TForm1* form = nullptr;

private:
    std::unique_ptr<TForm1> window_;
    std::unique_ptr<QTemporaryDir> dir_;
    QString folder_;
    QString startdir_;
};

// Draws the grid in its font without antialiasing, so that every pixel is white or a class
// colour.
void solidfont(TForm1* form);

// What is wrong in the grid's picture by the colour rules, or nothing: in every whole row in
// sight, each byte's cell holds white and its class colour only, the cell after the last byte
// white and the red end marker, any other cell white. The grid must be drawn solid (solidfont).
QString gridfault(const TForm1* form);

// The button of display mode `mode` (0 ASCII, 1 hex, 2 binary, 3 decimal, as DispMode counts).
QRadioButton* modebutton(const TForm1* form, int mode);

}  // namespace windowtest
