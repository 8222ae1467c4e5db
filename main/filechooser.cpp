// The file dialogs of Open and Save.
#include "main/filechooser.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QCompleter>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QIcon>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QMimeDatabase>
#include <QPointer>
#include <QScopeGuard>
#include <QSettings>
#include <QSignalBlocker>

#include <utility>
#include <vector>

#ifdef Q_OS_WIN
#include "main/systemdialogs.h"
#endif

namespace tessarin {

namespace {

// The icons and type names of a file dialog's entries, told without reading or looking up any
// file on the window's thread. Qt's own provider reads a file whose name says nothing, to tell
// its type from its content: a file whose read blocks (/proc/kmsg for root) would freeze the
// window for good. Even by name, a look-up per file (its type, then the theme's icon for it)
// stats it and searches the icon theme, some 75 ms without one, for every entry each
// time another program changes the folder. So the icon is one per kind of entry, chosen once,
// and the type comes from the name alone. Owned by its dialog, and deleted after the dialog's
// model, which uses it.
class KindIcons : public QObject, public QFileIconProvider {
public:
    explicit KindIcons(QObject* dialog)
        : QObject(dialog),
          folder_(QFileIconProvider::icon(QAbstractFileIconProvider::Folder)),
          file_(QFileIconProvider::icon(QAbstractFileIconProvider::File)),
          drive_(QFileIconProvider::icon(QAbstractFileIconProvider::Drive)) {}

    // What the entry is comes from what the model's lister read on its own thread.
    QIcon icon(const QFileInfo& info) const override {
        return info.isRoot() ? drive_ : info.isDir() ? folder_ : file_;
    }

    QString type(const QFileInfo& info) const override {
        return info.isFile() ? QMimeDatabase()
                                   .mimeTypeForFile(info.fileName(), QMimeDatabase::MatchExtension)
                                   .comment()
                             : QFileIconProvider::type(info);
    }

private:
    const QIcon folder_;
    const QIcon file_;
    const QIcon drive_;
};

// Closes the completion lists of a file dialog's name field.
void closelists(QFileDialog* dialog) {
    for (QCompleter* completer : dialog->findChildren<QCompleter*>()) {
        completer->popup()->hide();
    }
}

// The path the dialog's name field stands for with `text` in it: from the dialog's folder unless
// absolute, "~" standing for the home folder; told from the strings alone.
QString typedpath(const QFileDialog* dialog, QString text) {
    if (text == QLatin1String("~") || text.startsWith(QLatin1String("~/"))) {
        text.replace(0, 1, QDir::homePath());
    }
    return QDir::isAbsolutePath(text) ? text : dialog->directory().absolutePath() + '/' + text;
}

// Qt's file dialog, with two changes.
// A name typed on a file system that left a load or save waiting is taken as typed: Qt's own
// checks of it, on every key and on Enter, would look it up on the window's thread (they ask the
// file system how long a name may be, which Qt's file look-ups do not answer for it).
// Enter on a typed folder's name enters the folder and left its name in the name field, with a
// list over it, so that the next key went on typing the folder's name. The field is emptied, as
// for a folder chosen in the list.
class FileDialog : public QFileDialog {
public:
    FileDialog(QWidget* parent, const QString& folder, const DialogPlaces& places)
        : QFileDialog(parent, QString(), folder), places_(places) {}

    // Connects the name field to Qt's checks through check(), made once Qt's widgets are.
    void rewire() {
        QLineEdit* name = namefield();
        QObject::disconnect(name, SIGNAL(textChanged(QString)), this,
                            SLOT(_q_autoCompleteFileName(QString)));
        QObject::disconnect(name, SIGNAL(textChanged(QString)), this, SLOT(_q_updateOkButton()));
        QObject::connect(name, &QLineEdit::textChanged, this, &FileDialog::check);
    }

    // The path taken as typed on a silent file system, when the dialog was accepted so; empty
    // otherwise.
    const QString& typedsilent() const { return typedsilent_; }

protected:
    void accept() override {
        QLineEdit* name = namefield();
        const QString typed = typedpath(this, name->text());
        typedsilent_ = !name->text().isEmpty() && places_.reaches(typed) ? typed : QString();
        if (!typedsilent_.isEmpty()) {
            QDialog::accept();
            return;
        }
        const QDir before = directory();
        QFileDialog::accept();
        if (isVisible() && !name->text().isEmpty() &&
            QDir(before.absoluteFilePath(name->text())) == directory()) {
            name->clear();
            closelists(this);
        }
    }

private:
    QLineEdit* namefield() const { return findChild<QLineEdit*>(QStringLiteral("fileNameEdit")); }

    // What Qt does with each text of the name field, but for one on a silent file system, which
    // OK takes as it is.
    void check(const QString& text) {
        if (!text.isEmpty() && places_.reaches(typedpath(this, text))) {
            if (auto* buttons = findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"))) {
                for (QAbstractButton* button : buttons->buttons()) {
                    if (buttons->buttonRole(button) == QDialogButtonBox::AcceptRole) {
                        button->setEnabled(true);
                    }
                }
            }
            return;
        }
        QMetaObject::invokeMethod(this, "_q_autoCompleteFileName", Q_ARG(QString, text));
        QMetaObject::invokeMethod(this, "_q_updateOkButton");
    }

    const DialogPlaces& places_;
    QString typedsilent_;
};

// Lists `dialog`'s folder anew. Its model lists a folder when it becomes the root, and a hidden
// dialog watches none: shown in the folder it was last in, it would list what was there when it
// went there. The model goes to the drives and back; the dialog is not told (through the slot
// Qt 6.4 names so; where the name differs, its Back button merely gains that step).
void relist(QFileDialog* dialog, QFileSystemModel* model) {
    const QString folder = model->rootPath();
    const bool told = QObject::disconnect(model, SIGNAL(rootPathChanged(QString)), dialog,
                                          SLOT(_q_pathChanged(QString)));
    model->setRootPath(QString());
    if (told) {
        QObject::connect(model, SIGNAL(rootPathChanged(QString)), dialog,
                         SLOT(_q_pathChanged(QString)));
    }
    model->setRootPath(folder);
}

}  // namespace

FileChooser::FileChooser(QWidget* window, QFileDialog::AcceptMode mode, DialogPlaces& places)
    : window_(window), mode_(mode), places_(places) {}

void FileChooser::make() {
    // The system's dialog is made for each use.
    if (dialog_ != nullptr || systemdialog()) {
        return;
    }
    // Qt's dialog reads the folders, history and view it remembers from the user's settings when
    // it is made, and writes them back when it is deleted. The window keeps nothing between runs:
    // the user's settings are looked for in a folder that cannot exist, under a device, so they
    // are neither found nor written (Qt keeps no file it cannot write). Its dialogs remember
    // their folders for the run themselves.
    static const bool settingsaside = [] {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                           QStringLiteral("/dev/null"));
        return true;
    }();
    (void)settingsaside;
    dialog_ = new FileDialog(window_, places_.lastfolder(), places_);
    dialog_->setOption(QFileDialog::DontUseNativeDialog);
    dialog_->setIconProvider(new KindIcons(dialog_));
    dialog_->setOption(QFileDialog::DontConfirmOverwrite);
    dialog_->setAcceptMode(mode_);
    // Any name is accepted; one that does not exist goes to the load, which reports it.
    dialog_->setFileMode(QFileDialog::AnyFile);
    dialog_->setModal(true);
    // Enter on a typed name accepts the dialog while the name field's completion list may be
    // up, and Qt leaves that list on the screen, where it would swallow the next click or key.
    // Nothing of the dialog outlives it.
    QFileDialog* dialog = dialog_;
    QObject::connect(dialog_, &QDialog::finished, dialog_, [dialog] { closelists(dialog); });
    static_cast<FileDialog*>(dialog_)->rewire();
    dialog_->setHistory(history_);
    // Until it is shown (see choose()).
    dialog_->findChild<QFileSystemModel*>()->setOption(QFileSystemModel::DontWatchForChanges);
}

void FileChooser::replace() {
    if (systemdialog()) {
        // The system's dialog is made anew anyway; it starts where the user last was, without
        // the name given up on.
        lastpath_.clear();
        return;
    }
    if (dialog_ == nullptr) {
        return;
    }
    // Its lister may wait on the file system for good, and deleting the dialog would wait for it:
    // the dialog is hidden away and kept for the rest of the run.
    static std::vector<QPointer<QFileDialog>> keptaway;
    history_ = dialog_->history();
    dialog_->hide();
    dialog_->setParent(nullptr);
    keptaway.emplace_back(std::exchange(dialog_, nullptr));
}

bool FileChooser::systemdialog() {
#ifdef Q_OS_WIN
    return !QCoreApplication::testAttribute(Qt::AA_DontUseNativeDialogs);
#else
    return false;
#endif
}

QString FileChooser::choose() {
#ifdef Q_OS_WIN
    if (systemdialog()) {
        return choosesystem();
    }
#endif
    make();
    // A name on a file system left waiting is dropped, and what the dialog selected there, before
    // it moves and without telling it: it would look up each, or its folder for an empty name.
    const bool dropped = !lastpath_.isEmpty() && places_.reaches(lastpath_);
    if (dropped) {
        lastpath_.clear();
    }
    if (dropped || places_.reaches(dialog_->directory().absolutePath())) {
        const QSignalBlocker quiet(namefield());
        namefield()->clear();
        // Qt's list and its table of details share one selection.
        QItemSelectionModel* selection =
            dialog_->findChild<QAbstractItemView*>(QStringLiteral("listView"))->selectionModel();
        const QSignalBlocker unselected(selection);
        selection->clear();
    }
    // The name offered is the last one chosen here, in its own folder, so that Enter chooses that
    // file again; the last folder of either dialog serves while there is none.
    const QString folder =
        lastpath_.isEmpty() ? places_.lastfolder() : QFileInfo(lastpath_).absolutePath();
    // Only a dialog on the screen watches its folder: what other programs do there costs the
    // window nothing while it is hidden.
    auto* model = dialog_->findChild<QFileSystemModel*>();
    if (model != nullptr) {
        model->setOption(QFileSystemModel::DontWatchForChanges, false);
        if (dialog_->directory().absolutePath() == folder) {
            relist(dialog_, model);
        }
    }
    const auto unwatch = qScopeGuard([model] {
        if (model != nullptr) {
            model->setOption(QFileSystemModel::DontWatchForChanges, true);
        }
    });
    if (!lastpath_.isEmpty()) {
        dialog_->selectFile(lastpath_);
    } else if (dialog_->directory().absolutePath() != folder) {
        dialog_->setDirectory(folder);
    }
    // The folder list of the dialog's "Look in" offers no folder left waiting either.
    QStringList history = dialog_->history();
    history.removeIf([this](const QString& path) { return places_.reaches(path); });
    dialog_->setHistory(history);
    places_.visit(folder);

    const bool accepted = dialog_->exec() == QDialog::Accepted;
    places_.visit(dialog_->directory().absolutePath());
    const QString typedsilent = static_cast<FileDialog*>(dialog_)->typedsilent();
    if (!accepted || (typedsilent.isEmpty() && dialog_->selectedFiles().isEmpty())) {
        return {};
    }
    return chosen(typedsilent.isEmpty() ? dialog_->selectedFiles().constFirst() : typedsilent);
}

#ifdef Q_OS_WIN
QString FileChooser::choosesystem() {
    const QFileInfo last(lastpath_);
    const QString folder = lastpath_.isEmpty() ? places_.lastfolder() : last.absolutePath();
    places_.visit(folder);
    const SystemChoice choice = choosesystemfile(window_, mode_ == QFileDialog::AcceptSave, folder,
                                                 lastpath_.isEmpty() ? QString() : last.fileName());
    if (!choice.folder.isEmpty()) {
        places_.visit(choice.folder);
    }
    return choice.accepted ? chosen(choice.path) : QString();
}
#endif

QString FileChooser::chosen(const QString& path) {
    lastpath_ = path;
    const QString chosenfolder = QFileInfo(lastpath_).absolutePath();
    places_.visit(chosenfolder);
    // Going into a folder looks it up; not one that left a load waiting.
    if (!places_.reaches(chosenfolder)) {
        QDir::setCurrent(chosenfolder);
    }
    return lastpath_;
}

QLineEdit* FileChooser::namefield() const {
    // "fileNameEdit" is Qt's name for the field.
    return dialog_->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
}

}  // namespace tessarin
