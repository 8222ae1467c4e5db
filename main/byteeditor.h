// The byte editor: a drop-down list of the 256 values of a byte, labelled in the display mode,
// laid over the cell of the byte it edits.
#pragma once

#include <QComboBox>
#include <QPoint>

#include <cstdint>

#include "main/gridpaint.h"

class QKeyEvent;
class QWheelEvent;

namespace tessarin {

class ByteEditor : public QComboBox {
    Q_OBJECT

public:
    // Hidden until shown over a cell.
    explicit ByteEditor(QWidget* parent);

    // Fills the list with the labels of the 256 values in `mode`, none selected. Nothing is
    // emitted.
    void fill(DispMode mode);
    // Gives the editor a cell's width, plus room for its drop-down arrow.
    void fitcell(int cellwidth);
    // Shows the editor with its top-left at `at` (in its parent), over the rest, with `value`
    // selected. Nothing is emitted.
    void showat(QPoint at, std::uint8_t value);

signals:
    // The wheel turned over the editor. It changes no byte: a wheel over a closed combo box would
    // change its selection, and with it the byte.
    void wheeled(QWheelEvent* event);

protected:
    // The editor's height follows its font.
    void changeEvent(QEvent* event) override;
    // Backspace on the closed list counts as the user's pick of the selected value, as on the
    // platform the editor comes from; Qt's list ignores it.
    void keyPressEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
};

}  // namespace tessarin
