// The grid's image control.
#include "main/gridimage.h"

#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

#include <cmath>

namespace tessarin {

namespace {

// Positions in whole logical pixels, rounded down: a point just left of a cell border is still
// in the cell to the left.
QPoint logicalpos(const QMouseEvent* event) {
    const QPointF p = event->position();
    return {int(std::floor(p.x())), int(std::floor(p.y()))};
}

}  // namespace

GridImage::GridImage(QWidget* parent) : QWidget(parent) {
    setMouseTracking(true);
}

void GridImage::setpicture(QImage picture) {
    picture_ = std::move(picture);
    update();
}

void GridImage::paintEvent(QPaintEvent*) {
    if (picture_.isNull()) {
        return;
    }
    QPainter painter(this);
    painter.drawImage(QPointF(0, 0), picture_);
}

void GridImage::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        leftpending_ = true;
    }
    emit pressed(event->button(), logicalpos(event));
}

void GridImage::mouseDoubleClickEvent(QMouseEvent* event) {
    // Qt sends the second press of a double click as this event; it is a press, but the release
    // that follows must not click a second time.
    if (event->button() == Qt::LeftButton) {
        leftpending_ = false;
    }
    emit pressed(event->button(), logicalpos(event));
}

void GridImage::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !leftpending_) {
        return;
    }
    leftpending_ = false;
    const QPoint pos = logicalpos(event);
    if (rect().contains(pos)) {
        emit clicked(pos);
    }
}

void GridImage::mouseMoveEvent(QMouseEvent* event) {
    emit moved(logicalpos(event));
}

void GridImage::wheelEvent(QWheelEvent* event) {
    emit wheeled(event);
}

}  // namespace tessarin
