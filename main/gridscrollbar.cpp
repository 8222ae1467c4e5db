// The grid's scroll bar.
#include "main/gridscrollbar.h"

#include <QStyleOptionFocusRect>
#include <QStylePainter>

namespace tessarin {

void GridScrollBar::paintEvent(QPaintEvent* event) {
    QScrollBar::paintEvent(event);
    if (!hasFocus()) {
        return;
    }
    QStylePainter painter(this);
    QStyleOptionFocusRect focus;
    focus.initFrom(this);
    // Drawn whatever way the focus came, where a style draws it only after Tab.
    focus.state |= QStyle::State_KeyboardFocusChange;
    focus.backgroundColor = palette().color(QPalette::Window);
    painter.drawPrimitive(QStyle::PE_FrameFocusRect, focus);
}

}  // namespace tessarin
