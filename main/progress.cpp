// The progress dialog of long loads and saves.
#include "main/progress.h"

#include <QApplication>
#include <QCoreApplication>
#include <QLocale>

namespace tessarin {

namespace {

// QProgressDialog counts in int; documents go up to 2 GiB - 1 bytes, so it counts per mille.
constexpr int kSteps = 1000;

}  // namespace

ProgressWatch::ProgressWatch(QWidget* owner, QString label, int delayms)
    : owner_(owner), label_(std::move(label)), delayms_(delayms) {
    clock_.start();
}

ProgressWatch::~ProgressWatch() {
    if (dialog_) {
        QApplication::restoreOverrideCursor();
    }
}

binio::Progress ProgressWatch::callback() {
    return [this](std::uint64_t done, std::uint64_t total) { return update(done, total); };
}

bool ProgressWatch::update(std::uint64_t done, std::uint64_t total) {
    if (!dialog_) {
        if (clock_.elapsed() < delayms_ || done >= total) {
            return true;
        }
        dialog_ = std::make_unique<QProgressDialog>(owner_);
        dialog_->setWindowTitle(QCoreApplication::applicationName());
        dialog_->setWindowModality(Qt::ApplicationModal);
        dialog_->setMinimumDuration(0);
        dialog_->setAutoClose(false);
        dialog_->setAutoReset(false);
        // The busy pointer of the operation would cover the dialog too and make Cancel look
        // unpressable: an arrow is pushed over it, for the whole application, while the dialog
        // is up (the window takes no input meanwhile anyway).
        QApplication::setOverrideCursor(Qt::ArrowCursor);
        dialog_->show();
    }
    const QLocale locale;
    if (total == binio::kUnknownTotal) {
        // A file that tells its size only at its end: a busy bar and the bytes read so far.
        dialog_->setRange(0, 0);
        dialog_->setLabelText(
            QStringLiteral("%1\n%2 バイト").arg(label_, locale.toString(qulonglong(done))));
    } else {
        dialog_->setRange(0, kSteps);
        dialog_->setLabelText(QStringLiteral("%1\n%2 / %3 バイト")
                                  .arg(label_, locale.toString(qulonglong(done)),
                                       locale.toString(qulonglong(total))));
        dialog_->setValue(total == 0 ? kSteps : int(done * kSteps / total));
    }
    // setValue() runs the event loop only when the bar moves; the window must repaint and the
    // Cancel button be seen after every block.
    QCoreApplication::processEvents();
    return !dialog_->wasCanceled();
}

}  // namespace tessarin
