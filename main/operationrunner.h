// Runs the window's loads and saves on a worker thread while the window goes on: the busy
// pointer, the progress dialog that comes up when one takes a while, Cancel, and what a request
// to close the window does while one runs.
#pragma once

#include <QString>

#include <chrono>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

#include "binio/binio.h"

class QWidget;

namespace tessarin {

class OperationRunner {
public:
    enum class Operation { load, save };

    explicit OperationRunner(QWidget* window) : window_(window) {}
    OperationRunner(const OperationRunner&) = delete;
    OperationRunner& operator=(const OperationRunner&) = delete;
    // Removes the files of the saves given up on (see removefiles): the program ends with the
    // window, and the workers left waiting with it.
    ~OperationRunner() { removefiles(false); }

    // How long an operation runs before its progress dialog comes up.
    std::chrono::milliseconds delay() const { return delay_; }
    void setdelay(std::chrono::milliseconds delay) { delay_ = delay; }

    // What runs on the worker thread: it reports to the progress callback it is given and stops
    // with binio::Cancelled once a stop is requested through the token.
    using Work = std::function<void(const binio::Progress&, const binio::Stop&)>;

    // Runs `work`, the `operation` on the file at `path`, on a worker thread, and returns once it
    // has ended; the window's events are handled meanwhile, but its input is dropped. What `work`
    // throws leaves run().
    //
    // Cancel, or a close request during a load, requests the operation's stop, which ends it
    // within a tenth of a second even when it waits in a read or write that does not return: the
    // call is interrupted, or, where the system cannot do that, the worker is left to finish on
    // its own, and run() throws binio::Cancelled. So `work` must own everything it touches.
    void run(Operation operation, const QString& path, Work work);

    // The one decision on a request to close the window: true when it may close now. While a load
    // runs, the load is cancelled and the window closes once it has ended; while a save runs, the
    // save goes on and the window closes once it has written its file. A save that did not write
    // its file (it failed, was refused or cancelled) keeps the window and the unsaved document.
    bool mayclose();

    // Called when an operation is given up while its worker still waits in the file system, with
    // the path of what it waits on, every link resolved, or, where that is not known, the
    // operation's path.
    void setonleftwaiting(std::function<void(const QString&)> onleftwaiting) {
        onleftwaiting_ = std::move(onleftwaiting);
    }

    // Closes the window when a close was asked for during the operation that has just ended. The
    // command calls it once the user has seen what the operation ended with.
    void closeifasked();

    // Removes the files that the saves given up on while they still waited have not named yet,
    // and with `running` those of the save running now, which is asked to stop. On a thread of its
    // own, waited for a second at most: a removal on a file system that does not answer waits as
    // long as a write there, and the program must still end.
    void removefiles(bool running);
    // At the program's end: hands the removal of those files, and of the save running now if one
    // does, to a process of its own that
    // outlives this one where the system can (POSIX), since a file whose write the file system
    // holds up stays locked until that write returns, which may be after the program has ended.
    void removeafterend() const;

private:
    // The stop requests of the saves given up on, and with `withrunning` the running one's.
    std::vector<binio::Stop> unfinished(bool withrunning) const;

    QWidget* window_;
    std::chrono::milliseconds delay_{500};
    // The operation running now, and its stop request, for a close request to act on.
    std::optional<Operation> running_;
    binio::Stop stop_;
    bool closeasked_ = false;
    std::function<void(const QString&)> onleftwaiting_;
    // The stop requests of the saves given up on, which hold their files (see binio::Stop::keep).
    std::vector<binio::Stop> givenup_;
};

}  // namespace tessarin
