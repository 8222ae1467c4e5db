// The grid's vertical scroll bar, one position per row.
#pragma once

#include <QScrollBar>

namespace tessarin {

// A scroll bar that shows when it has the keyboard focus, as the buttons do: styles draw no focus
// on a scroll bar, and Tab reaches it.
class GridScrollBar : public QScrollBar {
public:
    explicit GridScrollBar(QWidget* parent) : QScrollBar(Qt::Vertical, parent) {}

protected:
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace tessarin
