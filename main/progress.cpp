// The progress dialog of long loads and saves.
#include "main/progress.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QFontMetrics>
#include <QLocale>
#include <QPushButton>
#include <QScreen>

#include <utility>

#include "binio/binio.h"

namespace tessarin {

namespace {

// QProgressDialog counts in int; documents go up to 2 GiB - 1 bytes, so it counts per mille.
constexpr int kSteps = 1000;
// How often the texts may change: laying out the label again after every block slowed a load.
constexpr qint64 kTextIntervalMs = 250;

bool isinput(QEvent::Type type) {
    switch (type) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::MouseMove:
        case QEvent::Wheel:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::Shortcut:
        case QEvent::ShortcutOverride:
        case QEvent::ContextMenu:
        case QEvent::TouchBegin:
        case QEvent::TouchUpdate:
        case QEvent::TouchEnd:
        case QEvent::DragEnter:
        case QEvent::Drop:
            return true;
        default:
            return false;
    }
}

}  // namespace

ProgressWatch::ProgressWatch(QWidget* owner, const QString& label, const QString& path,
                             std::chrono::milliseconds delay, binio::Stop stop)
    : owner_(owner),
      label_(label),
      path_(QDir::toNativeSeparators(path)),
      delay_(delay),
      stop_(stop) {
    clock_.start();
    qApp->installEventFilter(this);
}

ProgressWatch::~ProgressWatch() {
    qApp->removeEventFilter(this);
    if (dialog_) {
        QApplication::restoreOverrideCursor();
    }
}

bool ProgressWatch::eventFilter(QObject* watched, QEvent* event) {
    auto* widget = qobject_cast<QWidget*>(watched);
    return widget != nullptr && widget->window() == owner_->window() && isinput(event->type());
}

void ProgressWatch::show() {
    dialog_ = std::make_unique<QProgressDialog>(owner_);
    dialog_->setWindowTitle(QCoreApplication::applicationName());
    // Not modal: Qt drops a close request to a window that a modal dialog blocks, and the window
    // must see it (it cancels a load, and closes after a save). Its input is held off instead.
    dialog_->setWindowModality(Qt::NonModal);
    dialog_->setMinimumDuration(0);
    dialog_->setAutoClose(false);
    dialog_->setAutoReset(false);
    QObject::connect(dialog_.get(), &QProgressDialog::canceled, this,
                     [stop = stop_]() mutable { stop.request(); });
    // Only a click, Esc or a close request cancels: a key typed ahead (Enter after the Save
    // dialog) must not press Cancel.
    for (QPushButton* button : dialog_->findChildren<QPushButton*>()) {
        button->setAutoDefault(false);
        button->setDefault(false);
    }
    // The whole path, where the label shows it shortened.
    dialog_->setToolTip(label_.arg(path_));
    // The busy pointer of the operation would cover the dialog too and make Cancel look
    // unpressable: an arrow is pushed over it, for the whole application, while the dialog
    // is up (the window takes no input meanwhile anyway).
    QApplication::setOverrideCursor(Qt::ArrowCursor);
    dialog_->show();
    sinceshown_.start();
}

QString ProgressWatch::text(std::uint64_t done, std::uint64_t total) const {
    // The path is shortened in the middle so that the dialog stays well inside its screen.
    const QScreen* screen = owner_->screen();
    const int room = screen != nullptr ? screen->availableGeometry().width() / 2 : 600;
    const QFontMetrics metrics(dialog_->font());
    const QString what = label_.arg(metrics.elidedText(
        path_, Qt::ElideMiddle, std::max(0, room - metrics.horizontalAdvance(label_))));
    const QLocale locale;
    if (total == binio::kUnknownTotal) {
        return QStringLiteral("%1\n%2 バイト").arg(what, locale.toString(qulonglong(done)));
    }
    return QStringLiteral("%1\n%2 / %3 バイト")
        .arg(what, locale.toString(qulonglong(done)), locale.toString(qulonglong(total)));
}

void ProgressWatch::update(std::uint64_t done, std::uint64_t total, bool running) {
    if (!dialog_) {
        if (stop_.requested() || clock_.elapsed() < delay_.count() || (done >= total && !running)) {
            return;
        }
        show();
        lastshown_ = -kTextIntervalMs;
    }
    if (dialog_->wasCanceled()) {
        // Also a cancel() that no button press signalled. Cancel hid the dialog; a figure set
        // now would show it again.
        stop_.request();
        return;
    }
    const qint64 now = sinceshown_.elapsed();
    if (now - lastshown_ >= kTextIntervalMs || done >= total) {
        lastshown_ = now;
        dialog_->setLabelText(text(done, total));
        if (total == binio::kUnknownTotal) {
            // A file that tells its size only at its end: a busy bar.
            dialog_->setRange(0, 0);
        } else {
            dialog_->setRange(0, kSteps);
            dialog_->setValue(total == 0 ? kSteps : int(done * kSteps / total));
        }
    }
}

}  // namespace tessarin
