// Windows's own Open, Save and Font dialogs, called directly: Qt's file dialog would set an empty
// title on the system's, list a file type, and remember its folders in the registry, and Qt's
// font dialog offers effects the window has no use for.
#pragma once

#include <QFont>
#include <QString>

#include <optional>

class QWidget;

namespace tessarin {

// What a system file dialog returned.
struct SystemChoice {
    bool accepted = false;
    QString path;    // the path chosen, when accepted
    QString folder;  // the folder the dialog was in last, accepted or not; empty if unknown
};

// Runs the system's Open dialog (`save` false) or Save dialog over `window`, with the system's
// title and no file types, starting in `folder` with `name` in its name box (none when empty). A
// typed name need not exist, and an existing one is not asked about: the load and the save
// report or refuse it. Nothing is added to the system's list of recent documents.
SystemChoice choosesystemfile(QWidget* window, bool save, const QString& folder,
                              const QString& name);

// Runs the system's font dialog over `window`, starting from the grid font `grid`: screen fonts,
// without colour, effects or size limits. The grid font chosen, as gridfontfor() makes it from
// Qt's dialog, or `grid` itself when OK took what was offered; none when the user cancelled.
std::optional<QFont> choosesystemfont(QWidget* window, const QFont& grid);

}  // namespace tessarin
