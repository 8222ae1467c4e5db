// The byte editor.
#include "main/byteeditor.h"

#include <QApplication>
#include <QEvent>
#include <QKeyEvent>
#include <QSignalBlocker>
#include <QWheelEvent>

namespace tessarin {

namespace {

// The editor starts outside the client area; it is shown only once placed over a cell.
constexpr QRect kEditorAtStart{360, 216, 41, 20};
// The room for the drop-down arrow beside a cell's width.
constexpr int kArrowWidth = 16;
// The rows the open list shows at once.
constexpr int kVisibleRows = 8;

}  // namespace

ByteEditor::ByteEditor(QWidget* parent) : QComboBox(parent) {
    setGeometry(kEditorAtStart);
    // Fusion and other styles show a menu-like popup that ignores the visible-row count unless
    // the popup is a list.
    setStyleSheet(QStringLiteral("QComboBox { combobox-popup: 0; }"));
    setMaxVisibleItems(kVisibleRows);
    hide();
}

void ByteEditor::fill(DispMode mode) {
    const QSignalBlocker blocker(this);
    clear();
    for (int b = 0; b < 256; ++b) {
        addItem(celltext(static_cast<std::uint8_t>(b), mode));
    }
    setCurrentIndex(-1);
}

void ByteEditor::fitcell(int cellwidth) {
    resize(cellwidth + kArrowWidth, sizeHint().height());
}

void ByteEditor::showat(QPoint at, std::uint8_t value) {
    show();
    raise();
    move(at);
    const QSignalBlocker blocker(this);
    setCurrentIndex(value);
}

void ByteEditor::changeEvent(QEvent* event) {
    QComboBox::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        resize(width(), sizeHint().height());
    }
}

void ByteEditor::keyPressEvent(QKeyEvent* event) {
    if (event->key() != Qt::Key_Backspace || event->modifiers() != Qt::NoModifier) {
        QComboBox::keyPressEvent(event);
        return;
    }
    emit activated(currentIndex());
}

void ByteEditor::wheelEvent(QWheelEvent* event) {
    emit wheeled(event);
}

}  // namespace tessarin
