// Helpers for driving the main window in widget tests: answering its modal dialogs from a timer,
// reading back what a message box said, and temporary folders.
#pragma once

#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QMessageBox>
#include <QPointer>
#include <QString>
#include <QTemporaryDir>
#include <QTimer>

#include <functional>
#include <memory>

namespace windowtest {

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

// Accepts the next file dialog with `path` typed into it.
inline void choosefile(const QString& path) {
    onnextmodal([path](QWidget* modal) {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        if (dialog == nullptr) {
            modal->close();
            return;
        }
        // The dialog leaves its name field alone while that field has the focus.
        if (QWidget* focus = dialog->focusWidget()) {
            focus->clearFocus();
        }
        dialog->selectFile(path);
        static_cast<QDialog*>(dialog)->accept();  // public in QDialog, protected in QFileDialog
    });
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
};

// Records and closes the next message box. Keep the returned pointer until the box was shown.
inline std::shared_ptr<Box> closenextbox() {
    auto box = std::make_shared<Box>();
    onnextmodal([box](QWidget* modal) {
        if (auto* message = qobject_cast<QMessageBox*>(modal)) {
            box->shown = true;
            box->caption = message->windowTitle();
            box->text = message->text();
            box->icon = message->icon();
            message->accept();
        } else if (auto* dialog = qobject_cast<QDialog*>(modal)) {
            dialog->reject();
        }
    });
    return box;
}

}  // namespace windowtest
