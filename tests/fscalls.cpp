// The replaced system calls of fscalls.h, and each system's way of waiting in one.
#include "tests/fscalls.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <stop_token>

namespace fscalls {

const SystemCalls real;

namespace {

// The rest of each system's way: the entry of the call that gives a save's file its name, what a
// failed call returns, what a look-up finds for no file, the errors of an interrupted call and a
// full disk, where a file is, a pipe whose reads are false when interrupted, and the bytes a read
// gave or a write took.
#ifdef _WIN32
constexpr auto kName = &SystemCalls::MoveFileExW;
constexpr BOOL kFailed = FALSE;
constexpr DWORD kMissing = INVALID_FILE_ATTRIBUTES;
constexpr DWORD kInterrupted = ERROR_OPERATION_ABORTED;
constexpr DWORD kDiskFull = ERROR_DISK_FULL;
struct Native {
    static std::int64_t position(HANDLE file) {
        LARGE_INTEGER at{};
        return ::SetFilePointerEx(file, at, &at, FILE_CURRENT) ? at.QuadPart : 0;
    }
    static bool makepipe(HANDLE (&ends)[2]) { return ::CreatePipe(&ends[0], &ends[1], nullptr, 0); }
    static bool readbyte(HANDLE pipe) {
        char byte = 0;
        DWORD n = 0;
        return real.ReadFile(pipe, &byte, 1, &n, nullptr) || System::error() != kInterrupted;
    }
    static void writebyte(HANDLE pipe) {
        DWORD n = 0;
        (void)real.WriteFile(pipe, "", 1, &n, nullptr);
    }
    static std::int64_t bytes(BOOL done, auto, auto, auto, LPDWORD n, auto) {
        return done ? *n : 0;
    }
};
#else
constexpr auto kName = &SystemCalls::linkat;
constexpr int kFailed = -1;
constexpr int kMissing = -1;
constexpr int kInterrupted = EINTR;
constexpr int kDiskFull = ENOSPC;
struct Native {
    static std::int64_t position(int fd) { return ::lseek(fd, 0, SEEK_CUR); }
    static bool makepipe(int (&ends)[2]) { return ::pipe2(ends, O_CLOEXEC) == 0; }
    static bool readbyte(int pipe) {
        char byte = 0;
        return real.read(pipe, &byte, 1) >= 0 || errno != kInterrupted;
    }
    static void writebyte(int pipe) { (void)!real.write(pipe, "", 1); }
    static std::int64_t bytes(ssize_t n, auto...) { return std::max<ssize_t>(n, 0); }
};
#endif

// A call of an entry passed on to the system's own, and a failed call.
template <auto Entry, typename... Args>
auto call(Args... args) {
    return (real.*Entry)(args...);
}
template <auto Entry, typename... Args>
auto failed(Args... args) {
    return decltype(call<Entry>(args...))(kFailed);
}

// Runs `then`, the system's error kept, and returns `result`.
template <typename Result, typename Then>
Result keeping(Result result, Then then) {
    const auto error = System::error();
    then();
    System::seterror(error);
    return result;
}

std::atomic<std::int64_t> diskroom;
std::atomic<int> diskflusherror;
std::atomic<void (*)()> afterread;
std::atomic<void (*)(const std::filesystem::path&)> onmiss;

}  // namespace

#ifdef _WIN32
DWORD System::error() {
    return ::GetLastError();
}
void System::seterror(DWORD error) {
    ::SetLastError(error);
}
#else
int System::error() {
    return errno;
}
void System::seterror(int error) {
    errno = error;
}
#endif

struct Stall::Calls {
    // The call of a step: it waits first, then passes the call on to the system's own.
    template <auto Entry, Step At>
    static Replacing<Entry> held() {
        return {Entry, [](auto... args) {
                    const auto result =
                        stall.wait(At) ? call<Entry>(args...) : failed<Entry>(args...);
                    if constexpr (At == Step::io) {
                        stall.read_ += Native::bytes(result, args...);
                    }
                    return result;
                }};
    }

    Replacing<kRead> read = held<kRead, Step::io>();
    Replacing<kWrite> write = held<kWrite, Step::io>();
    Replacing<kFlush> flush = held<kFlush, Step::flush>();
    Replacing<kName> name = held<kName, Step::link>();
#ifndef _WIN32
    // The window asks a file system that left work waiting whether it answers again: not while
    // the stall holds (the call waits, taking no byte from the pipe, until its end).
    Replacing<&SystemCalls::statfs> statfs{
        &SystemCalls::statfs, [](const char* path, struct statfs* fs) {
            std::unique_lock lock(stall.mutex_);
            pollfd from{stall.armed_ ? stall.readend_.get() : -1, POLLIN, 0};
            lock.unlock();
            (void)::poll(&from, 1, from.fd < 0 ? 0 : kStallBoundMs);
            return real.statfs(path, fs);
        }};
#endif
};

Stall::~Stall() {
    release();
}

bool Stall::arm(int interrupts, Step at, std::int64_t after) {
    release();
    const std::lock_guard lock(mutex_);
    signalsneeded_ = interrupts;
    step = at;
    after_ = after;
    read_ = 0;
    binio::NativeHandle ends[2] = {binio::Handle().get(), binio::Handle().get()};
    armed_ = Native::makepipe(ends);
    readend_ = binio::Handle(ends[0]);
    writeend_ = binio::Handle(ends[1]);
    calls_ = std::make_unique<Calls>();
    bound_ = std::jthread([this](std::stop_token stop) {
        for (int ms = 0; ms < kStallBoundMs && !stop.stop_requested(); ms += 10) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (!stop.stop_requested()) {
            std::fprintf(stderr, "the stall let the work go after %d ms\n", kStallBoundMs);
            letgo();
        }
    });
    return armed_;
}

void Stall::moveto(Step at) {
    step = at;
    const std::lock_guard lock(mutex_);
    Native::writebyte(writeend_.get());
}

void Stall::release() {
    bound_ = {};
    letgo();
    calls_.reset();
}

bool Stall::waitforcall() const {
    for (int ms = 0; waiting == 0 && armed_ && ms < kStallBoundMs; ++ms) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return waiting > 0;
}

bool Stall::wait(Step at) {
    std::unique_lock lock(mutex_);
    if (!armed_ || step != at || (at == Step::io && read_ < after_)) {
        return true;
    }
    const binio::NativeHandle pipe = readend_.get();
    lock.unlock();
    ++waiting;
    ++entered;
    int received = 0;
    while (!Native::readbyte(pipe) && ++received != signalsneeded_) {
    }
    --waiting;
    System::seterror(kInterrupted);
    return received == 0 || received != signalsneeded_;
}

void Stall::letgo() {
    const std::lock_guard lock(mutex_);
    armed_ = false;
    writeend_.close();
}

Stall stall;

FailingDisk::FailingDisk(std::int64_t room, int flusherror)
    : write_(kWrite,
             [](auto file, auto data, auto size, auto... rest) {
                 const std::int64_t held = Native::position(file);
                 const std::int64_t left = diskroom < 0 ? std::int64_t(size) : diskroom - held;
                 const auto room =
                     decltype(size)(std::clamp<std::int64_t>(left, 0, std::int64_t(size)));
                 System::seterror(kDiskFull);
                 return room > 0 ? call<kWrite>(file, data, room, rest...)
                                 : failed<kWrite>(file, data, room, rest...);
             }),
      flush_(kFlush, [](auto file) {
          System::seterror(Error(diskflusherror));
          return diskflusherror == 0 ? call<kFlush>(file) : failed<kFlush>(file);
      }) {
    diskroom = room;
    diskflusherror = flusherror;
}

AfterReads::AfterReads(void (*then)())
    : read_(kRead, [](auto... args) { return keeping(call<kRead>(args...), afterread.load()); }) {
    afterread = then;
}

OnMisses::OnMisses(void (*missed)(const std::filesystem::path&))
    : lookup_(kLookup, [](auto path, auto... rest) {
          const auto found = call<kLookup>(path, rest...);
          return keeping(found, [&] {
              if (found == kMissing) {
                  onmiss.load()(path);
              }
          });
      }) {
    onmiss = missed;
}

#ifndef _WIN32
NoUnnamedFiles::NoUnnamedFiles()
    : openat(&SystemCalls::openat, [](int dir, const char* path, int flags, mode_t mode) {
          System::seterror(EOPNOTSUPP);
          return (flags & O_TMPFILE) == O_TMPFILE ? -1 : real.openat(dir, path, flags, mode);
      }) {}
#endif

}  // namespace fscalls
