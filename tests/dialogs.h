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
    static Dialogs& get();

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
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    explicit Dialogs(QObject* parent) : QObject(parent) { qApp->installEventFilter(this); }

    std::deque<std::function<void(QDialog*)>> answers_;
    int showings_ = 0;
};

// Waits (30 s at most) until `window` has the keyboard: it is the focus window; false when it never
// has. On Wayland the compositor gives the keyboard to a window it maps, and a program cannot take
// it: QTest::qWaitForWindowActive does not wait there.
bool waitforkeyboard(const QWindow* window);

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
void closenext();

// Types `path` into a file dialog and ends it with OK; false when the dialog did not take the
// name. The name field ignores a selection made while it has the focus, so the focus is taken away
// first. A folder's name makes the dialog open that folder on OK, so for a folder the dialog is
// ended directly, as if the user had chosen it.
bool answerfiledialog(QFileDialog* dialog, const QString& path);

// Accepts the next file dialog with `path` typed into it.
void choosefile(const QString& path);

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
std::shared_ptr<Typed> typefile(const QString& path);

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
std::shared_ptr<Box> closenextbox(std::function<bool(const QMessageBox*)> settled = {});

}  // namespace windowtest
