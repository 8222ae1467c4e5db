// Loads and saves, and closing the window while one runs.
#include "main/operationrunner.h"

#include <QApplication>
#include <QScopeGuard>
#include <QWidget>

#include "main/progress.h"

namespace tessarin {

void OperationRunner::run(Operation operation, const QString& path,
                          const std::function<void(const binio::Progress&)>& work) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const auto restorecursor = qScopeGuard([] { QApplication::restoreOverrideCursor(); });
    ProgressWatch progress(window_,
                           operation == Operation::load ? QStringLiteral("読み込み中: %1")
                                                        : QStringLiteral("保存中: %1"),
                           path, delay_);
    running_ = operation;
    progress_ = &progress;
    const auto ended = qScopeGuard([this] {
        running_.reset();
        progress_ = nullptr;
    });
    try {
        work(progress.callback());
    } catch (const binio::Cancelled&) {
        throw;
    } catch (const binio::IOError& e) {
        // A name that appeared after the check is refused, never replaced.
        if (operation == Operation::save && e.code() != binio::kFileExists) {
            closeasked_ = false;
        }
        throw;
    } catch (...) {
        if (operation == Operation::save) {
            closeasked_ = false;
        }
        throw;
    }
}

bool OperationRunner::mayclose() {
    if (!running_) {
        return true;
    }
    closeasked_ = true;
    if (*running_ == Operation::load) {
        progress_->cancel();
    }
    return false;
}

void OperationRunner::closeifasked() {
    if (closeasked_) {
        closeasked_ = false;
        window_->close();
    }
}

}  // namespace tessarin
