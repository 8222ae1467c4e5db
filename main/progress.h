// Progress of a long load or save: after a short delay a modal progress dialog shows the bytes
// done of the total and offers Cancel, and the window keeps being painted meanwhile.
#pragma once

#include <QElapsedTimer>
#include <QProgressDialog>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <memory>

#include "binio/binio.h"

namespace tessarin {

class ProgressWatch {
public:
    // Shows nothing for operations that end within `delayms`.
    ProgressWatch(QWidget* owner, QString label, int delayms);
    ~ProgressWatch();
    ProgressWatch(const ProgressWatch&) = delete;
    ProgressWatch& operator=(const ProgressWatch&) = delete;

    // The callback for binio: returns false once the user pressed Cancel.
    binio::Progress callback();

    // Whether the dialog was shown at all.
    bool shown() const { return dialog_ != nullptr; }

private:
    bool update(std::uint64_t done, std::uint64_t total);

    QWidget* owner_;
    QString label_;
    int delayms_;
    QElapsedTimer clock_;
    std::unique_ptr<QProgressDialog> dialog_;
};

}  // namespace tessarin
