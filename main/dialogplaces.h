// Where the window's file dialogs may go: the folders they were in, and the file systems that
// left a load or save waiting, which the window does not touch again.
#pragma once

#include <QString>
#include <QStringList>

namespace tessarin {

// Shared by the Open and Save dialogs. Everything here is told from paths alone: asking a file
// system that does not answer would freeze the window.
class DialogPlaces {
public:
    // `start`: the folder the dialogs start in.
    explicit DialogPlaces(const QString& start) { visit(start); }

    // Notes that a dialog was in `folder`, the latest so far.
    void visit(const QString& folder);
    // The folder a dialog was last in that lies on no file system left waiting; the home folder
    // when every one does.
    QString lastfolder() const;

    // Notes the file system of `path`, whose load or save was given up while the work still
    // waited there: the mount that holds it, or the path's folder where mounts cannot be read.
    void stalled(const QString& path);
    // Whether `path` lies on a file system left waiting.
    bool reaches(const QString& path) const;

private:
    QStringList visited_;  // latest last, each once
    QStringList stalled_;  // the mount points
};

}  // namespace tessarin
