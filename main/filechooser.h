// The Open and Save dialogs: the system's own on Windows, made for each use; elsewhere Qt's, made
// on first use, with the workarounds that keep it from reading the files it lists and from leaving
// its lists on the screen.
#pragma once

#include <QFileDialog>
#include <QString>
#include <QStringList>

#include "main/dialogplaces.h"

class QLineEdit;
class QWidget;

namespace tessarin {

// Asks the user for a path with one file dialog of the window. The dialog is made when it is
// first needed (building one lists its folder and reads the icon theme, which the window's start
// does not wait for). It offers the last name chosen in it, in that name's folder; until then
// it starts in the folder last visited in any of the window's file dialogs, whose `places` they
// share. Neither goes where a load or save was left waiting: the name is dropped there, and the
// dialog goes back to the folder it was in before; a path typed there is taken as typed.
class FileChooser {
public:
    FileChooser(QWidget* window, QFileDialog::AcceptMode mode, DialogPlaces& places);

    // Makes the dialog, unless made already. Qt starts a dialog it makes where the last one
    // accepted was, a folder that may lie where a load was left waiting since: the window makes
    // both of its dialogs at the first use of either.
    void make();

    // Runs the dialog: the chosen path, or an empty one when the user cancelled. The path's folder
    // becomes the current one. Either way, the folder the dialog was in becomes the last visited.
    QString choose();

    // Puts the dialog away for one made anew at the next use, with the same history: its lister
    // may wait on a file system that stopped answering, which would leave every later listing
    // empty.
    void replace();

    // Qt's dialog, owned by the window; null until first used, and always with the system's.
    QFileDialog* dialog() const { return dialog_; }

private:
#ifdef Q_OS_WIN
    // choose() with the system's dialog.
    QString choosesystem();
#endif
    // Takes `path`, accepted in the dialog, as the last one chosen, and makes its folder the
    // current one; returns it.
    QString chosen(const QString& path);

    // Whether the dialog is the system's own, as on Windows unless the application asks for
    // Qt's (Qt::AA_DontUseNativeDialogs); elsewhere it is Qt's, whose look-ups this class
    // keeps in check.
    static bool systemdialog();
    QLineEdit* namefield() const;

    QWidget* window_;
    QFileDialog::AcceptMode mode_;
    DialogPlaces& places_;
    QString lastpath_;     // the last path chosen in this dialog
    QStringList history_;  // the folders of a dialog put away, for the next one
    QFileDialog* dialog_ = nullptr;
};

}  // namespace tessarin
