// Loads and saves on a worker thread, and closing the window while one runs.
#include "main/operationrunner.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QScopeGuard>
#include <QTimer>
#include <QWidget>

#include <memory>
#include <mutex>
#include <utility>

#include "binio/worker.h"
#include "main/progress.h"

namespace tessarin {

namespace {

// How often the window looks at the worker: its progress, and whether it is to be interrupted.
constexpr std::chrono::milliseconds kTick{10};
// How long a worker asked to stop is interrupted before it is left to finish on its own: within
// a tenth of a second of Cancel, the window goes on.
constexpr qint64 kGiveUpMs = 60;

// What the worker tells the window, and the window the worker.
class Exchange {
public:
    // From the worker: the bytes done of the total; false once the operation is to stop.
    bool report(std::uint64_t done, std::uint64_t total) {
        const std::lock_guard lock(mutex_);
        done_ = done;
        total_ = total;
        return !stop_;
    }

    // The last report: (0, unknown) before the first.
    std::pair<std::uint64_t, std::uint64_t> last() const {
        const std::lock_guard lock(mutex_);
        return {done_, total_};
    }

    void stop() {
        const std::lock_guard lock(mutex_);
        stop_ = true;
    }

    // Where the worker says it has finished: a queued call to `loop`, for as long as it exists.
    void wakeonfinish(QEventLoop* loop) {
        const std::lock_guard lock(mutex_);
        loop_ = loop;
    }
    void finished() {
        const std::lock_guard lock(mutex_);
        if (loop_ != nullptr) {
            QMetaObject::invokeMethod(loop_, &QEventLoop::quit, Qt::QueuedConnection);
        }
    }

private:
    mutable std::mutex mutex_;
    std::uint64_t done_ = 0;
    std::uint64_t total_ = binio::kUnknownTotal;
    bool stop_ = false;
    QEventLoop* loop_ = nullptr;
};

}  // namespace

void OperationRunner::run(Operation operation, const QString& path,
                          std::function<void(const binio::Progress&)> work) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const auto restorecursor = qScopeGuard([] { QApplication::restoreOverrideCursor(); });
    ProgressWatch progress(window_,
                           operation == Operation::load ? QStringLiteral("読み込み中: %1")
                                                        : QStringLiteral("保存中: %1"),
                           path, delay_);
    running_ = operation;
    progress_ = &progress;
    leftwaiting_ = false;
    const auto ended = qScopeGuard([this] {
        running_.reset();
        progress_ = nullptr;
    });

    QEventLoop loop;
    const auto exchange = std::make_shared<Exchange>();
    exchange->wakeonfinish(&loop);
    const auto forgetloop = qScopeGuard([&exchange] { exchange->wakeonfinish(nullptr); });
    {
        binio::Worker worker(
            [exchange, work = std::move(work)] {
                work([exchange](std::uint64_t done, std::uint64_t total) {
                    return exchange->report(done, total);
                });
            },
            [exchange] { exchange->finished(); });
        QElapsedTimer stopping;
        QTimer tick;
        QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
            if (worker.finished()) {
                loop.quit();
                return;
            }
            const auto [done, total] = exchange->last();
            progress.update(done, total);
            if (!progress.cancelled()) {
                return;
            }
            if (!stopping.isValid()) {
                exchange->stop();
                stopping.start();
            }
            if (stopping.elapsed() >= kGiveUpMs) {
                loop.quit();
                return;
            }
            worker.interrupt();
        });
        tick.start(kTick);
        // Run even when the worker has finished already: what came meanwhile (a close request)
        // is handled while the operation still counts as running. The worker's call to quit
        // comes after it.
        loop.exec();
        // A save that did not write its file keeps the window; ~Worker waits for a finished
        // worker and leaves one that is not to finish on its own.
        try {
            if (!worker.finished()) {
                leftwaiting_ = true;
                throw binio::Cancelled();
            }
            worker.rethrow();
        } catch (...) {
            if (operation == Operation::save) {
                closeasked_ = false;
            }
            throw;
        }
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
