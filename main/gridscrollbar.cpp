// The grid's scroll bar.
#include "main/gridscrollbar.h"

#include <QKeyEvent>
#include <QProxyStyle>
#include <QStyleOptionFocusRect>
#include <QStyleOptionSlider>
#include <QStylePainter>

namespace tessarin {

namespace {

// The application's style, but for a scroll bar it draws, measures and hit-tests the thumb as if
// the page step were 0, which the style takes as the thumb's least length.
class LeastThumbStyle : public QProxyStyle {
public:
    using QProxyStyle::QProxyStyle;

    void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option,
                            QPainter* painter, const QWidget* widget) const override {
        QProxyStyle::drawComplexControl(control, leastthumb(control, option).get(), painter,
                                        widget);
    }

    QRect subControlRect(ComplexControl control, const QStyleOptionComplex* option, SubControl sub,
                         const QWidget* widget) const override {
        return QProxyStyle::subControlRect(control, leastthumb(control, option).get(), sub, widget);
    }

    SubControl hitTestComplexControl(ComplexControl control, const QStyleOptionComplex* option,
                                     const QPoint& pos, const QWidget* widget) const override {
        return QProxyStyle::hitTestComplexControl(control, leastthumb(control, option).get(), pos,
                                                  widget);
    }

private:
    // The option as given, or for a scroll bar a copy with a page step of 0.
    struct Option {
        const QStyleOptionComplex* given;
        QStyleOptionSlider slider;
        bool copied = false;
        const QStyleOptionComplex* get() const { return copied ? &slider : given; }
    };
    static Option leastthumb(ComplexControl control, const QStyleOptionComplex* option) {
        Option result{option, {}};
        if (control == CC_ScrollBar) {
            if (const auto* slider = qstyleoption_cast<const QStyleOptionSlider*>(option)) {
                result.slider = *slider;
                result.slider.pageStep = 0;
                result.copied = true;
            }
        }
        return result;
    }
};

}  // namespace

GridScrollBar::GridScrollBar(QWidget* parent) : QScrollBar(Qt::Vertical, parent) {
    // With no base style the proxy follows the application's; the scroll bar owns it.
    auto* style = new LeastThumbStyle();
    style->setParent(this);
    setStyle(style);
}

void GridScrollBar::keyPressEvent(QKeyEvent* event) {
    const int key = event->key();
    if (key != Qt::Key_Right && key != Qt::Key_Left) {
        QScrollBar::keyPressEvent(event);
        return;
    }
    QKeyEvent asvertical(event->type(), key == Qt::Key_Right ? Qt::Key_Down : Qt::Key_Up,
                         event->modifiers(), event->text(), event->isAutoRepeat(),
                         ushort(event->count()));
    QScrollBar::keyPressEvent(&asvertical);
    event->setAccepted(asvertical.isAccepted());
}

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
