// Progress of a long load or save: after a short delay a progress dialog shows the bytes done of
// the total and offers Cancel. The window that owns the operation takes no input meanwhile.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QProgressDialog>
#include <QString>
#include <QWidget>

#include <chrono>
#include <cstdint>
#include <memory>

#include "binio/binio.h"

namespace tessarin {

class ProgressWatch : public QObject {
public:
    // `label` says what is done, with %1 standing for `path`. Shows nothing for operations that
    // end within `delay`. Input meant for the owner's window is dropped while the watch lives.
    ProgressWatch(QWidget* owner, const QString& label, const QString& path,
                  std::chrono::milliseconds delay);
    ~ProgressWatch() override;
    ProgressWatch(const ProgressWatch&) = delete;
    ProgressWatch& operator=(const ProgressWatch&) = delete;

    // Takes the operation's progress, on the owner's thread: shows the dialog once the delay has
    // passed and the operation is not complete, and updates its texts. False once the user
    // pressed Cancel or cancel() was called.
    bool update(std::uint64_t done, std::uint64_t total);
    // update() as a callback for binio, for an operation on the owner's thread.
    binio::Progress callback();

    // Asks the operation to stop, as Cancel does.
    void cancel() { cancelled_ = true; }
    bool cancelled() const;

    // Whether the dialog was shown at all.
    bool shown() const { return dialog_ != nullptr; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void show();
    QString text(std::uint64_t done, std::uint64_t total) const;

    QWidget* owner_;
    QString label_;
    QString path_;
    std::chrono::milliseconds delay_;
    QElapsedTimer clock_;
    QElapsedTimer sinceshown_;
    qint64 lastshown_ = 0;  // ms since the dialog came up, when its texts were last set
    bool cancelled_ = false;
    std::unique_ptr<QProgressDialog> dialog_;
};

}  // namespace tessarin
