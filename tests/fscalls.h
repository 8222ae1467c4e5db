// The process's file system calls, watched, for the widget tests: the paths opened and those the
// window's thread looks up while recording, and a stall of the file work's reads and writes, as
// on a file system that does not answer. A test program includes this once; its own read() and
// write(), where it has them, call waitifstalled().
#pragma once

#include <QFile>
#include <QStringList>

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
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

// The file work waits in the kernel, as on a file system that does not answer: while armed, every
// read() of the file being loaded, and every write() of a regular file, on the worker first reads
// from a pipe the test holds, which waits until the test lets the work go. A signal ends that wait,
// and the call fails with EINTR, as a read from a stalled network file system does; or, as on a
// file system that a signal cannot interrupt, the wait goes on through signals.
struct Stall {
    std::atomic<bool> armed{false};
    std::atomic<bool> interruptible{true};
    std::atomic<int> waiting{0};  // calls waiting now
    int pipe[2] = {-1, -1};
    struct stat loaded {};  // the file being loaded

    // `path` names the file a load reads; a save's writes wait whatever it names.
    bool arm(bool canbeinterrupted, const QString& path) {
        release();
        interruptible = canbeinterrupted;
        loaded = {};
        (void)::stat(QFile::encodeName(path).constData(), &loaded);
        armed = ::pipe2(pipe, O_CLOEXEC) == 0;
        return armed;
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

inline const auto realread = testutil::nextcall<ssize_t (*)(int, void*, size_t)>("read");
inline const auto realwrite = testutil::nextcall<ssize_t (*)(int, const void*, size_t)>("write");

// False when the wait was interrupted, and the call is to fail with EINTR.
inline bool waitifstalled(int fd, bool reading) {
    struct stat st {};
    const int saved = errno;
    if (!stall.armed || !windowtest::onworker() || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
        (reading && (st.st_dev != stall.loaded.st_dev || st.st_ino != stall.loaded.st_ino))) {
        return true;
    }
    const int from = stall.pipe[0];
    ++stall.waiting;
    char c = 0;
    bool goon = true;
    while (realread(from, &c, 1) < 0 && errno == EINTR) {
        if (stall.interruptible) {
            goon = false;
            break;
        }
    }
    --stall.waiting;
    errno = goon ? saved : EINTR;
    return goon;
}

}  // namespace fscalls

// open, open64, openat and openat64, each recording the path and passing its call on to the C
// library's. The mode is passed on whether or not the flags ask for one.
#define RECORDING_OPEN(name, params, args)                                 \
    int name params {                                                      \
        static const auto real = testutil::nextcall<int(*) params>(#name); \
        fscalls::recordopen(path);                                         \
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
}
