// The grid's vertical scroll bar, one position per row.
#pragma once

#include <QScrollBar>

namespace tessarin {

// The grid's scroll bar:
// - its thumb has the style's least length whatever the range, as a scroll bar whose page size
//   is 0 has (Qt would size it from the page step, which is a screen of rows here, and a small
//   file would show a thumb filling most of the track); the page step still moves a screen;
// - Right and Left, when it has the focus, move a row down and up, as Down and Up do;
// - it shows when it has the keyboard focus, as the buttons do: styles draw no focus on a scroll
//   bar, and Tab reaches it.
class GridScrollBar : public QScrollBar {
public:
    explicit GridScrollBar(QWidget* parent);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace tessarin
