// Answering the window's dialogs as they come up, for the widget tests and the benchmarks: the
// answers wait in order, a file dialog is given a path or has one typed into it, and what a
// message box said is recorded.
#pragma once

#include <QApplication>
#include <QCompleter>
#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QProgressDialog>
#include <QString>
#include <QTest>
#include <QWindow>

#include <deque>
#include <functional>
#include <memory>
#include <utility>

namespace windowtest {

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

// Waits (30 s at most) until `window` has the keyboard: it is the focus window; false when it never
// has. On Wayland the compositor gives the keyboard to a window it maps, and a program cannot take
// it: QTest::qWaitForWindowActive does not wait there.
inline bool waitforkeyboard(const QWindow* window) {
    return QTest::qWaitFor([window] { return QGuiApplication::focusWindow() == window; }, 30000);
}

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
        if (!waitforkeyboard(dialog->windowHandle())) {
            qWarning("typefile: the file dialog never became active");
            return;
        }
        // Each key once the keyboard is back with the dialog or its list: on Wayland the
        // compositor takes the focus away while the list comes up or goes, and hands it back
        // afterwards; a key in between would find no focus window and go astray.
        QWindow* window = dialog->windowHandle();
        const auto press = [window](auto key) {
            if (!QTest::qWaitFor(
                    [window] {
                        const QWidget* popup = QApplication::activePopupWidget();
                        const QWindow* focus = QGuiApplication::focusWindow();
                        return focus == window ||
                               (popup != nullptr && focus == popup->windowHandle());
                    },
                    30000)) {
                qWarning("typefile: the keyboard never came back to the dialog");
            }
            QTest::keyClick(window, key);
        };
        for (const QChar c : path.chopped(1)) {
            press(c.toLatin1());
        }
        // The dialog reads the folder in the background; the list can only come up for the last
        // key once the entries are in.
        const QCompleter* completer = name->completer();
        if (!QTest::qWaitFor([completer] { return completer->completionCount() > 0; }, 30000)) {
            qWarning("typefile: the dialog never listed a match for %s", qPrintable(name->text()));
        }
        press(path.back().toLatin1());
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
        press(Qt::Key_Return);
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
    answernext<QMessageBox>([box, settled](QMessageBox* message) {
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

}  // namespace windowtest
