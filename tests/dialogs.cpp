// The dialog answerer of dialogs.h.
#include "tests/dialogs.h"

namespace windowtest {

constexpr const char* kShowing = "windowtest-showing";

Dialogs& Dialogs::get() {
    static QPointer<Dialogs> dialogs;
    if (dialogs == nullptr) {
        dialogs = new Dialogs(qApp);
    }
    return *dialogs;
}

bool Dialogs::eventFilter(QObject* watched, QEvent* event) {
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

bool waitforkeyboard(const QWindow* window) {
    return QTest::qWaitFor([window] { return QGuiApplication::focusWindow() == window; }, 30000);
}

void closenext() {
    answernext<QDialog>([](QDialog*) {});
}

bool answerfiledialog(QFileDialog* dialog, const QString& path) {
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

void choosefile(const QString& path) {
    answernext<QFileDialog>([path](QFileDialog* dialog) { answerfiledialog(dialog, path); });
}

std::shared_ptr<Typed> typefile(const QString& path) {
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

std::shared_ptr<Box> closenextbox(std::function<bool(const QMessageBox*)> settled) {
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
