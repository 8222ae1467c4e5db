// The grid's image control: it owns the off-screen picture that redraw paints, shows it unscaled
// at its top-left, and reports the mouse in logical pixels.
#pragma once

#include <QImage>
#include <QPoint>
#include <QSize>
#include <QWidget>

namespace tessarin {

class GridImage : public QWidget {
    Q_OBJECT

public:
    explicit GridImage(QWidget* parent = nullptr);

    const QImage& picture() const { return picture_; }
    // Shows a new picture (made by redraw) from the next paint on.
    void setpicture(QImage picture);

    // The grid's size when the window has its first and smallest client size, 292 x 273.
    static constexpr QSize kDesignSize{165, 244};
    QSize sizeHint() const override { return kDesignSize; }

signals:
    // A left press and release on the control, reported at the release. The second press of a
    // double click does not click again.
    void clicked(QPoint pos);
    // Any button pressed on the control, the second press of a double click included.
    void pressed(Qt::MouseButton button, QPoint pos);
    // The pointer moved over the control, or anywhere while a button held since a press on it.
    void moved(QPoint pos);
    // The wheel turned over the control.
    void wheeled(QWheelEvent* event);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    QImage picture_;
    bool leftpending_ = false;  // a left press that a release on the control turns into a click
};

}  // namespace tessarin
