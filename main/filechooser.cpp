// The file dialogs of Open and Save.
#include "main/filechooser.h"

#include <QAbstractItemView>
#include <QCompleter>
#include <QDir>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QIcon>
#include <QLineEdit>
#include <QMimeDatabase>

namespace tessarin {

namespace {

// The icons and type names of a file dialog's entries, told from their names alone. Qt's own
// provider reads a file whose name says nothing, to tell its type from its content, on the GUI
// thread: a file whose read blocks (/proc/kmsg for root) would freeze the window for good.
// Owned by its dialog, and deleted after the dialog's model, which uses it.
class NameOnlyIcons : public QObject, public QFileIconProvider {
public:
    explicit NameOnlyIcons(QObject* dialog) : QObject(dialog) {}

    QIcon icon(const QFileInfo& info) const override {
        if (!info.isFile()) {
            return QFileIconProvider::icon(info);
        }
        const QMimeType type = mimetype(info);
        QIcon icon = QIcon::fromTheme(type.iconName());
        if (icon.isNull()) {
            icon = QIcon::fromTheme(type.genericIconName());
        }
        return icon.isNull() ? QFileIconProvider::icon(QAbstractFileIconProvider::File) : icon;
    }

    QString type(const QFileInfo& info) const override {
        return info.isFile() ? mimetype(info).comment() : QFileIconProvider::type(info);
    }

private:
    // The dialog's model asks from its own thread too; QMimeDatabase objects share one database.
    static QMimeType mimetype(const QFileInfo& info) {
        return QMimeDatabase().mimeTypeForFile(info, QMimeDatabase::MatchExtension);
    }
};

// Closes the completion lists of a file dialog's name field.
void closelists(QFileDialog* dialog) {
    for (QCompleter* completer : dialog->findChildren<QCompleter*>()) {
        completer->popup()->hide();
    }
}

// Qt's file dialog, but for a typed folder: Enter on a folder's name enters the folder and left
// its name in the name field, with a list over it, so that the next key went on typing the
// folder's name. The field is emptied, as for a folder chosen in the list.
class FileDialog : public QFileDialog {
public:
    using QFileDialog::QFileDialog;

protected:
    void accept() override {
        const QDir before = directory();
        QFileDialog::accept();
        // "fileNameEdit" is Qt's name for the field.
        auto* name = findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        if (isVisible() && name != nullptr && !name->text().isEmpty() &&
            QDir(before.absoluteFilePath(name->text())) == directory()) {
            name->clear();
            closelists(this);
        }
    }
};

}  // namespace

FileChooser::FileChooser(QWidget* window, QFileDialog::AcceptMode mode, QString& lastfolder)
    : window_(window), mode_(mode), lastfolder_(lastfolder) {}

QString FileChooser::choose() {
    if (dialog_ == nullptr) {
        dialog_ = new FileDialog(window_, QString(), lastfolder_);
        dialog_->setOption(QFileDialog::DontUseNativeDialog);
        dialog_->setIconProvider(new NameOnlyIcons(dialog_));
        dialog_->setOption(QFileDialog::DontConfirmOverwrite);
        dialog_->setAcceptMode(mode_);
        // Any name is accepted; one that does not exist goes to the load, which reports it.
        dialog_->setFileMode(QFileDialog::AnyFile);
        dialog_->setModal(true);
        // Enter on a typed name accepts the dialog while the name field's completion list may be
        // up, and Qt leaves that list on the screen, where it would swallow the next click or
        // key. Nothing of the dialog outlives it.
        QFileDialog* dialog = dialog_;
        QObject::connect(dialog_, &QDialog::finished, dialog_, [dialog] { closelists(dialog); });
    }
    // The name offered is the last one chosen here, in its own folder, so that Enter chooses that
    // file again; the last folder of either dialog serves while there is none.
    if (!lastpath_.isEmpty()) {
        dialog_->selectFile(lastpath_);
    } else if (dialog_->directory().absolutePath() != QDir(lastfolder_).absolutePath()) {
        dialog_->setDirectory(lastfolder_);
    }
    const bool accepted = dialog_->exec() == QDialog::Accepted;
    lastfolder_ = dialog_->directory().absolutePath();
    if (!accepted || dialog_->selectedFiles().isEmpty()) {
        return {};
    }
    lastpath_ = dialog_->selectedFiles().constFirst();
    lastfolder_ = QFileInfo(lastpath_).absolutePath();
    QDir::setCurrent(lastfolder_);
    return lastpath_;
}

}  // namespace tessarin
