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
    // `label` says what is done, with %1 standing for `path`, shown with the system's separators as
    // the caption shows it. Shows nothing for operations that end within `delay`. Input meant for
    // the owner's window is dropped while the watch lives.
    // Cancel (a click or Esc) requests a stop through `stop`.
    ProgressWatch(QWidget* owner, const QString& label, const QString& path,
                  std::chrono::milliseconds delay, binio::Stop stop);
    ~ProgressWatch() override;
    ProgressWatch(const ProgressWatch&) = delete;
    ProgressWatch& operator=(const ProgressWatch&) = delete;

    // Takes the operation's progress, on the owner's thread, and updates the dialog's texts. The
    // dialog comes up once the delay has passed, unless a stop was requested or the figures say
    // that all is done. `running` says that the operation has not ended whatever the figures say:
    // it may wait in its last flush, in the naming of its file or in a close, and the dialog comes
    // up all the same, with Cancel.
    void update(std::uint64_t done, std::uint64_t total, bool running = false);

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
    binio::Stop stop_;
    std::unique_ptr<QProgressDialog> dialog_;
};

}  // namespace tessarin
