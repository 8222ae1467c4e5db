// Loads and saves on a worker thread, and closing the window while one runs.
#include "main/operationrunner.h"

#include <QApplication>
#include <QEventLoop>
#include <QFile>
#include <QScopeGuard>
#include <QTimer>
#include <QWidget>

#ifndef Q_OS_WIN
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "binio/worker.h"
#include "main/progress.h"

namespace tessarin {

namespace {

// How often the window looks at the worker: its progress, and whether it is to be given up.
constexpr std::chrono::milliseconds kTick{10};
// How long the removal of the files of unfinished saves is waited for.
constexpr std::chrono::seconds kRemovalBound{1};

// What the worker tells the window.
class Exchange {
public:
    // From the worker: the bytes done of the total.
    void report(std::uint64_t done, std::uint64_t total) {
        const std::lock_guard lock(mutex_);
        done_ = done;
        total_ = total;
    }

    // The last report: (0, unknown) before the first.
    std::pair<std::uint64_t, std::uint64_t> last() const {
        const std::lock_guard lock(mutex_);
        return {done_, total_};
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
    QEventLoop* loop_ = nullptr;
};

// Removes the files the saves of `stops` have not named yet.
void removeall(const std::vector<binio::Stop>& stops) {
    for (const binio::Stop& stop : stops) {
        stop.removefile();
    }
}

}  // namespace

void OperationRunner::run(Operation operation, const QString& path, Work work) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const auto restorecursor = qScopeGuard([] { QApplication::restoreOverrideCursor(); });
    // The one stop request of this operation: Cancel, a close request during a load, and the
    // window giving up on the worker all go through it.
    stop_ = binio::Stop();
    running_ = operation;
    const auto ended = qScopeGuard([this] { running_.reset(); });
    ProgressWatch progress(window_,
                           operation == Operation::load ? QStringLiteral("読み込み中: %1")
                                                        : QStringLiteral("保存中: %1"),
                           path, delay_, stop_);

    QEventLoop loop;
    const auto exchange = std::make_shared<Exchange>();
    exchange->wakeonfinish(&loop);
    const auto forgetloop = qScopeGuard([&exchange] { exchange->wakeonfinish(nullptr); });
    {
        binio::Worker worker(
            [exchange, work = std::move(work), stop = stop_] {
                work([exchange](std::uint64_t done,
                                std::uint64_t total) { exchange->report(done, total); },
                     stop);
            },
            [exchange] { exchange->finished(); }, stop_);
        QTimer tick;
        QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
            // A worker asked to stop is interrupted until it ends; one that waits on all the same
            // is given up, within a tenth of a second of the request.
            if (worker.finished() || worker.stuck()) {
                loop.quit();
                return;
            }
            // The dialog comes up by the clock, whatever the worker waits on: a read or write, or,
            // with all its bytes reported, a save's last flush or naming, or a close.
            const auto [done, total] = exchange->last();
            progress.update(done, total, true);
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
                if (onleftwaiting_) {
                    // Where the worker got to, every link resolved; the path as given while it
                    // had not opened anything yet.
                    const std::string place = stop_.place();
                    onleftwaiting_(place.empty() ? path : QFile::decodeName(place.c_str()));
                }
                if (operation == Operation::save) {
                    givenup_.push_back(stop_);
                }
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
        stop_.request();
    }
    return false;
}
void OperationRunner::closeifasked() {
    if (closeasked_) {
        closeasked_ = false;
        window_->close();
    }
}

std::vector<binio::Stop> OperationRunner::unfinished(bool withrunning) const {
    std::vector<binio::Stop> stops = givenup_;
    if (withrunning) {
        stops.push_back(stop_);
    }
    return stops;
}

void OperationRunner::removefiles(bool running) {
    const bool withrunning = running && running_ == Operation::save;
    if (withrunning) {
        stop_.request();
    }
    try {
        std::vector<binio::Stop> stops = unfinished(withrunning);
        if (stops.empty()) {
            return;
        }
        std::packaged_task<void()> removal([stops = std::move(stops)] { removeall(stops); });
        std::future<void> removed = removal.get_future();
        std::thread(std::move(removal)).detach();
        removed.wait_for(kRemovalBound);
    } catch (...) {
        // No memory or no thread for the removal: the files stay.
    }
}

void OperationRunner::removeafterend() const {
#ifndef Q_OS_WIN
    const std::vector<binio::Stop> stops = unfinished(running_ == Operation::save);
    if (stops.empty()) {
        return;
    }
    // The child makes only system calls, and its own child, nobody's to wait for once the child
    // has ended, removes the files and ends without the program's exit handlers.
    const pid_t child = ::fork();
    if (child == 0) {
        if (::fork() == 0) {
            removeall(stops);
        }
        ::_exit(0);
    }
    if (child > 0) {
        ::waitpid(child, nullptr, 0);
    }
#endif
}

}  // namespace tessarin
