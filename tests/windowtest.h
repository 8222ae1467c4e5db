// Helpers for driving the main window in widget tests: answering its modal dialogs from a timer,
// reading back what a message box said, and temporary folders.
#pragma once

#include <QApplication>
#include <QByteArray>
#include <QComboBox>
#include <QDialog>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QStatusBar>
#include <QString>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include <functional>
#include <memory>

#include "main/gridimage.h"

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
};

// Types `path` into the next file dialog and presses Enter once the name field's completion list
// is up, as a person at the keyboard does: the keys go through the dialog's window, so the list
// takes them as it would on a desktop.
inline std::shared_ptr<Typed> typefile(const QString& path) {
    auto typed = std::make_shared<Typed>();
    onnextmodal([path, typed](QWidget* modal) {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        auto* name = modal->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        if (dialog == nullptr || name == nullptr) {
            modal->close();
            return;
        }
        QWindow* window = modal->windowHandle();
        for (const QChar c : path) {
            QTest::keyClick(window, c.toLatin1());
        }
        // The list comes up once the folder has been read.
        typed->popped =
            QTest::qWaitFor([] { return QApplication::activePopupWidget() != nullptr; }, 30000);
        typed->text = name->text();
        QTest::keyClick(window, Qt::Key_Return);
        typed->accepted = !dialog->isVisible();
        if (!typed->accepted) {
            dialog->reject();
        }
    });
    return typed;
}

// A whole file's bytes; empty when it cannot be read.
inline QByteArray readall(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
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
    QRect geometry;
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
            box->geometry = message->frameGeometry();
            message->accept();
        } else if (auto* dialog = qobject_cast<QDialog*>(modal)) {
            dialog->reject();
        }
    });
    return box;
}

}  // namespace windowtest
