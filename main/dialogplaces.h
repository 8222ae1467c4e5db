// Where the window's file dialogs may go: the folders they were in, and the file systems that
// left a load or save waiting, which the window does not touch again while they stay silent.
#pragma once

#include <QString>
#include <QStringList>

#include <memory>

namespace tessarin {

class SilentMounts;

// Shared by the Open and Save dialogs. Nothing here asks a file system that left a load or save
// waiting: asking one that does not answer would freeze the window.
class DialogPlaces {
public:
    // `start`: the folder the dialogs start in.
    explicit DialogPlaces(const QString& start);
    ~DialogPlaces();
    DialogPlaces(const DialogPlaces&) = delete;
    DialogPlaces& operator=(const DialogPlaces&) = delete;

    // Notes that a dialog was in `folder`, the latest so far.
    void visit(const QString& folder);
    // The folder a dialog was last in that lies on no silent file system; the home folder when
    // every one does.
    QString lastfolder() const;

    // Notes the file system that holds `place`, where a load or save was given up while its work
    // still waited: the mount that holds it, or its folder where mounts cannot be read. From then
    // on, until that file system answers again, Qt's file look-ups (the dialogs' listings, their
    // completion, their checks of a typed name) find nothing there, without asking it, and it
    // is asked only from a thread of its own whether it answers. True when the file system was
    // not noted before. On Windows, whose dialogs are the system's, the folder is noted, and only
    // the dialogs' starting folder and the name they offer keep away from it.
    bool stalled(const QString& place);
    // Whether `path` lies on a silent file system, also through symbolic links.
    bool reaches(const QString& path) const;

private:
    QStringList visited_;  // latest last, each once
    std::unique_ptr<SilentMounts> silent_;
};

}  // namespace tessarin
