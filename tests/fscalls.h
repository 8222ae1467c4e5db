// The process's file system calls, watched, for the widget tests: the paths opened and those the
// window's thread looks up while recording, and a stall of the file work's reads and writes, as
// on a file system that does not answer. A test program includes this once; it sets stalledread()
// as windowtest::readhook, write() waits below, and the program's own fdatasync() and the like,
// where it has them, call waitifstalled(). On Windows nothing of this exists (see
// windowtest::kNoCallTaking).
#pragma once

#ifndef _WIN32
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QStringList>

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <mutex>
#include <utility>

#include "tests/testutil.h"
#include "tests/windowtest.h"

namespace fscalls {

// Every path opened in the process while `recordopens` is set, from any thread, and every path
// the window's thread opens or stats meanwhile: the calls the C library offers for it are taken
// over below.
inline std::atomic<bool> recordopens = false;
inline std::mutex openedmutex;
inline QStringList opened;
inline QStringList looked;  // the window's thread's only

inline void recordlookup(const char* path) {
    if (recordopens && ::pthread_equal(::pthread_self(), windowtest::windowthread)) {
        looked << QFile::decodeName(path);
    }
}

inline void recordopen(const char* path) {
    if (recordopens) {
        const std::lock_guard lock(openedmutex);
        opened << QFile::decodeName(path);
    }
    recordlookup(path);
}

// The file work waits in the kernel, as on a file system that does not answer: while armed, the
// worker's calls of one step first read from a pipe the test holds, which waits until the test
// lets the work go. The steps are every read() of the file being loaded and every write() of a
// regular file, a save's flush, or the link that names its file. The wait ends when the test lets
// the call go, or moves the stall on to a later step, or with the n-th signal that reaches it, and
// the call fails with EINTR, as a read from a stalled network file system does; with n = 0, as on a
// file system that a signal cannot interrupt, it goes on through signals. The stall holds the work
// kStallBoundMs after it was armed at most: then it lets every call go, with a warning, so that a
// fault (a Cancel or close that never reaches the work) fails its row in seconds instead of holding
// the test until CTest's timeout.
enum class Step { io, flush, link };
inline constexpr int kStallBoundMs = 20000;

inline const auto realwrite = testutil::nextcall<ssize_t (*)(int, const void*, size_t)>("write");

struct Stall {
    std::atomic<bool> armed{false};
    std::atomic<int> signalsneeded{1};
    std::atomic<Step> step{Step::io};
    std::atomic<int> waiting{0};  // calls waiting now
    std::atomic<int> entered{0};  // calls that have waited, or wait now
    int pipe[2] = {-1, -1};
    struct stat loaded {};  // the file being loaded
    QDeadlineTimer bound;   // set before the work starts

    // `path` names the file a load reads; a save's writes wait whatever it names.
    bool arm(int interrupts, const QString& path, Step at = Step::io) {
        release();
        signalsneeded = interrupts;
        step = at;
        loaded = {};
        bound.setRemainingTime(kStallBoundMs);
        (void)::stat(QFile::encodeName(path).constData(), &loaded);
        armed = ::pipe2(pipe, O_CLOEXEC) == 0;
        return armed;
    }
    // Moves the stall on to the step `at`, letting the call that waits go on.
    void moveto(Step at) {
        step = at;
        const char token = 1;
        (void)realwrite(pipe[1], &token, 1);
    }
    // Lets every waiting call and every later one go on.
    void release() {
        armed = false;
        for (int& fd : pipe) {
            if (fd >= 0) {
                ::close(std::exchange(fd, -1));
            }
        }
    }
};
inline Stall stall;

inline const auto realfdatasync = testutil::nextcall<int (*)(int)>("fdatasync");
inline const auto reallinkat =
    testutil::nextcall<int (*)(int, const char*, int, const char*, int)>("linkat");

// Waits in a call of `at`; false when the wait was interrupted, and the call is to fail with
// EINTR.
inline bool waitifstalled(Step at) {
    if (!stall.armed || stall.step != at || !windowtest::onworker()) {
        return true;
    }
    pollfd from{stall.pipe[0], POLLIN, 0};
    if (from.fd < 0) {
        return true;  // released meanwhile
    }
    const int saved = errno;
    ++stall.waiting;
    ++stall.entered;
    int received = 0;
    bool goon = true;
    int ready = 0;  // > 0: let go by the test
    while (!stall.bound.hasExpired() &&
           (ready = ::poll(&from, 1, int(stall.bound.remainingTime()))) <= 0) {
        if (ready < 0 && errno == EINTR && ++received == stall.signalsneeded) {
            goon = false;
            break;
        }
    }
    --stall.waiting;
    if (ready > 0) {
        char token = 0;
        (void)windowtest::realread(from.fd, &token, 1);  // the one moveto() wrote, if any
    } else if (goon && stall.armed.exchange(false)) {
        qWarning("the stall let the file work go after %d ms: nothing else did", kStallBoundMs);
    }
    errno = goon ? saved : EINTR;
    return goon;
}

// Waits in a read of the file being loaded or a write of a regular file.
inline bool waitifstalled(int fd, bool reading) {
    struct stat st {};
    if (!stall.armed || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
        (reading && (st.st_dev != stall.loaded.st_dev || st.st_ino != stall.loaded.st_ino))) {
        return true;
    }
    return waitifstalled(Step::io);
}

// read() with the stall: what a test sets as windowtest::readhook.
inline ssize_t stalledread(int fd, void* buf, size_t count) {
    return waitifstalled(fd, true) ? windowtest::realread(fd, buf, count) : -1;
}

// Holds a call while the stall does, without taking a token meant for the stalled work.
inline void holdwhilestalled() {
    pollfd from{stall.pipe[0], POLLIN, 0};
    if (stall.armed && from.fd >= 0) {
        (void)::poll(&from, 1, kStallBoundMs);
    }
}

// While set, the file systems make no unnamed files, as FUSE's do not: open(O_TMPFILE) fails,
// and a save writes a hidden file.
inline std::atomic<bool> nounnamed = false;

// Whether a worker's thread still runs: one that the window gave up on ends on its own.
inline bool workerrunning() {
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString& task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(tasks.filePath(task + QStringLiteral("/comm")));
        if (comm.open(QIODevice::ReadOnly) && comm.readAll().trimmed() == "tessarin-file") {
            return true;
        }
    }
    return false;
}

}  // namespace fscalls

// open, open64, openat and openat64, each recording the path and passing its call on to the C
// library's, or failing for an unnamed file (see nounnamed). The mode is passed on whether or not
// the flags ask for one.
#define RECORDING_OPEN(name, params, args)                                 \
    int name params {                                                      \
        static const auto real = testutil::nextcall<int(*) params>(#name); \
        fscalls::recordopen(path);                                         \
        if (fscalls::nounnamed && (flags & O_TMPFILE) == O_TMPFILE) {      \
            errno = EOPNOTSUPP;                                            \
            return -1;                                                     \
        }                                                                  \
        va_list list;                                                      \
        va_start(list, flags);                                             \
        const mode_t mode = va_arg(list, mode_t);                          \
        va_end(list);                                                      \
        return real args;                                                  \
    }
// statx, stat and stat64 likewise.
#define RECORDING_STAT(name, params, args)                                 \
    int name params {                                                      \
        static const auto real = testutil::nextcall<int(*) params>(#name); \
        fscalls::recordlookup(path);                                       \
        return real args;                                                  \
    }
extern "C" {
RECORDING_OPEN(open, (const char* path, int flags, ...), (path, flags, mode))
RECORDING_OPEN(open64, (const char* path, int flags, ...), (path, flags, mode))
RECORDING_OPEN(openat, (int dir, const char* path, int flags, ...), (dir, path, flags, mode))
RECORDING_OPEN(openat64, (int dir, const char* path, int flags, ...), (dir, path, flags, mode))
RECORDING_STAT(statx, (int dir, const char* path, int flags, unsigned mask, struct statx* st),
               (dir, path, flags, mask, st))
RECORDING_STAT(stat, (const char* path, struct stat* st), (path, st))
RECORDING_STAT(stat64, (const char* path, struct stat64* st), (path, st))
// Qt's file dialog asks how long a name may be in a folder.
long pathconf(const char* path, int name) {
    static const auto real = testutil::nextcall<long (*)(const char*, int)>("pathconf");
    fscalls::recordlookup(path);
    return real(path, name);
}
// The window asks a file system that left work waiting, on a thread of its own, whether it
// answers again: not while the stall holds.
int statfs(const char* path, struct statfs* fs) {
    static const auto real = testutil::nextcall<int (*)(const char*, struct statfs*)>("statfs");
    fscalls::holdwhilestalled();
    return real(path, fs);
}
ssize_t write(int fd, const void* buf, size_t count) {
    return fscalls::waitifstalled(fd, false) ? fscalls::realwrite(fd, buf, count) : -1;
}
}
#endif
