// The refusal box and where it stands.
#include "main/refusalbox.h"

#include <QMessageBox>
#include <QScreen>
#include <QShowEvent>
#include <QWindow>

namespace tessarin {

namespace {

// The refusal box stands in the middle of the screen that holds the window, not over the window
// as Qt places a dialog: its frame, where a window manager puts one around it.
class ScreenCentredBox : public QMessageBox {
public:
    using QMessageBox::QMessageBox;

protected:
    void showEvent(QShowEvent* event) override {
        // The box has its final size only once QMessageBox has handled the event.
        QMessageBox::showEvent(event);
        // Its own frame is known only after the window manager has framed it, on the screen.
        // It is placed once, before that, with the frame of the window it belongs to: a window
        // manager frames the two alike, and a box that moved once on the screen could not tell
        // the window manager's move from the user's.
        // (The window's bottom edge may hold a grip for resizing, which the box has not.)
        const QWindow* owner = parentWidget() ? parentWidget()->window()->windowHandle() : nullptr;
        QMargins frame = owner != nullptr ? owner->frameMargins() : QMargins();
        frame.setBottom(frame.left());
        const QScreen* screen = owner != nullptr ? owner->screen() : this->screen();
        QRect box = QRect(QPoint(), size()).marginsAdded(frame);
        box.moveCenter(screen->availableGeometry().center());
        // The position of the client area: the frame is not known to the box's window yet.
        windowHandle()->setPosition(box.topLeft() + QPoint(frame.left(), frame.top()));
    }
};

}  // namespace

void showrefusal(QWidget* owner) {
    ScreenCentredBox box(QMessageBox::Critical, QStringLiteral("エラー"),
                         QStringLiteral("申し訳ありませんが、本ソフトは上書き保存ができません。\n"
                                        "別名で保存してください。"),
                         QMessageBox::Ok, owner);
    box.setEscapeButton(QMessageBox::Ok);
    box.setDefaultButton(QMessageBox::Ok);
    box.exec();
}

}  // namespace tessarin
