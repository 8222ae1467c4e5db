// The grid font: the one the grid starts with, and its conversions between the grid's sizes in
// pixels and the font dialog's sizes in points.
#pragma once

#include <QFont>

class QFontDialog;

namespace tessarin {

// The window's and the grid's font at start: the Japanese proportional Gothic, or the free font
// made to match its metrics, 12 pixels high.
QFont startfont();

// The font the font dialog starts from for the grid font `grid`, on a screen of `dpi` dots per
// inch: the family it resolved to (the first one asked for may not be installed), its style, and
// its size in points, since the dialog speaks in points while the grid font is kept in pixels.
QFont dialogfont(const QFont& grid, qreal dpi);

// Whether the font dialog's `chosen` font is the one it `offered`: the same family, style, size,
// weight and slant.
bool samechoice(const QFont& chosen, const QFont& offered);

// The grid font for the dialog's `chosen` font: `grid` with its family, weight and slant, and its
// size in whole pixels (at least 1) on a screen of `dpi` dots per inch.
QFont gridfontfor(const QFont& chosen, const QFont& grid, qreal dpi);

// Makes a font dialog for the window, kept clear of families the font database lists without a
// single style. Qt's dialog fails on such a family as soon as it shows it, and it starts on the
// application's font: under Wine the system's dialog font "MS Shell Dlg" is such a family. The
// application's font becomes the family it is drawn in, which looks the same, and the dialog's
// list leaves those families out.
QFontDialog* makefontdialog(QWidget* parent);

}  // namespace tessarin
