// Loading files into the document: what replaces what, which failures give which code and
// message, and that a failed load leaves the document as it was. The rows that only one system
// can set up say so when they run on the other.
#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#endif

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "binio/binio.h"
#include "binio/fileio.h"
#include "binio/load.h"
#include "binio/memory.h"
#include "binio/worker.h"
#include "tests/fscalls.h"
#include "tests/testutil.h"

namespace {

using testutil::Bytes;
using testutil::TempDir;

const Bytes kBefore = {0xde, 0xad, 0xbe, 0xef, 0x00, 0x41};

// The three ways a large file is read: by its size, or to its end into room reserved up front
// or, where the system charges all of that room (strict overcommit, "2"), into pieces.
struct LoadWay {
    const char* name;
    bool toend;
    const char* overcommit;

    // The settings of a load this way, with the system's figures written under `root`.
    binio::LoadSettings settings(const TempDir& root) const {
        std::filesystem::create_directories(root / "proc/sys/vm");
        testutil::writefile(root / "proc/sys/vm/overcommit_memory", std::string(overcommit));
        binio::LoadSettings settings;
        settings.systemroot = root.path();
        settings.readtoend = toend;
        return settings;
    }
};
const LoadWay kLoadWays[] = {
    {"by its size", false, "0"},
    {"to its end, into reserved room", true, "0"},
    {"to its end, into pieces", true, "2"},
};

// In a child: loads `path` into a copy of kBefore and reports the I/O error code, kWrongMessage
// when what() is not `message`, kWrongResult when the failure changed the document. A load that
// blocks is ended by the alarm.
int failingload(const std::string& path, const std::string& message) {
    const auto load = [&] {
        Bytes doc = kBefore;
        try {
            binio::loadfile(path, doc);
        } catch (const binio::IOError& e) {
            if (doc != kBefore) {
                return static_cast<int>(testutil::kWrongResult);
            }
            return e.what() == message ? e.code() : static_cast<int>(testutil::kWrongMessage);
        }
        return testutil::outcome([] {});
    };
#ifdef _WIN32
    // No child there: a load that blocked would be ended by the test's timeout.
    return load();
#else
    return testutil::runinchild([&] {
        ::alarm(5);
        return load();
    });
#endif
}

// What a table row's setup returns when this system cannot set it up: an empty path, after
// saying why.
std::string notonthissystem(const char* why) {
    std::printf("row not run on this system: %s\n", why);
    return {};
}

// What goes wrong when `path` is loaded, or nothing: it must be read to its end, with the total
// unknown until then, and a cancelled load must leave the document as it was.
std::string notreadtoend(const std::string& path) {
    const Bytes content = testutil::readfile<Bytes>(path);
    const std::uint64_t size = content.size();
    Bytes doc = kBefore;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> calls;
    binio::loadfile(path, doc, [&](std::uint64_t done, std::uint64_t total) {
        calls.emplace_back(done, total);
    });
    if (doc != content || calls.empty() || calls.back() != std::pair(size, size)) {
        return "read " + std::to_string(doc.size()) + " of " + std::to_string(size) + " bytes";
    }
    if (size > 0 && calls.front() != std::pair(std::uint64_t{0}, binio::kUnknownTotal)) {
        return "the total was given as known";
    }
    doc = kBefore;
    binio::Stop stop;
    const auto cancel = [&](std::uint64_t, std::uint64_t) { stop.request(); };
    const int cancelled = testutil::outcome([&] { binio::loadfile(path, doc, cancel, stop); });
    return size == 0 || (cancelled == testutil::kCancelled && doc == kBefore)
               ? ""
               : "a cancelled load went on or changed the document";
}

// Files whose size says nothing of their content are read to their end: an empty one, and on
// Linux one of /proc that reports no size and one of sysfs, which reports 4096 for any content
// (the loopback device's address is there in every network namespace). procfs has files that
// report a size too: a PCI device's configuration reports its whole size, of which others than
// root can read only the first 64 bytes; it is read as nobody.
TEST(Load, FilesWhoseSizeSaysNothingAreReadToTheirEnd) {
    TempDir dir;
    testutil::writefile(dir / "empty", Bytes{});
    EXPECT_EQ(notreadtoend(dir / "empty"), "");
#ifdef _WIN32
    std::printf("no /proc or /sys on Windows: only the empty file tried\n");
#else
    for (const char* path : {"/proc/self/cmdline", "/sys/class/net/lo/address"}) {
        SCOPED_TRACE(path);
        EXPECT_EQ(notreadtoend(path), "");
    }
    std::error_code none;
    std::string pci;
    for (std::filesystem::recursive_directory_iterator it("/proc/bus/pci", none), end;
         it != end && pci.empty(); it.increment(none)) {
        pci = it->is_regular_file(none) ? it->path().string() : "";
    }
    if (pci.empty()) {
        std::printf("no PCI device in /proc/bus/pci: no procfs file with a size tried\n");
        return;
    }
    SCOPED_TRACE(pci);
    EXPECT_EQ(testutil::asnobody([&] {
                  struct stat st {};
                  if (::stat(pci.c_str(), &st) != 0 ||
                      std::uint64_t(st.st_size) == testutil::readfile(pci).size()) {
                      return static_cast<int>(testutil::kSetupFailed);
                  }
                  const std::string wrong = notreadtoend(pci);
                  if (!wrong.empty()) {
                      std::fprintf(stderr, "%s\n", wrong.c_str());
                  }
                  return static_cast<int>(wrong.empty() ? testutil::kOk : testutil::kWrongResult);
              }),
              testutil::kOk);
#endif
}

TEST(Load, ReadOnlyFileLoads) {
    TempDir dir;
    const Bytes content = testutil::randombytes(5, 300);
    const std::string path = dir / "readonly";
    testutil::writefile(path, content);
    // 0444; on Windows the read-only attribute.
    namespace fs = std::filesystem;
    fs::permissions(path, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    Bytes doc = kBefore;
    binio::loadfile(path, doc);
    EXPECT_EQ(doc, content);

#ifdef _WIN32
    std::printf("another user's file is tried on Linux only\n");
#else
    if (::geteuid() != 0) {
        std::printf("another user's file not tried: the file is another user's only for root\n");
        return;
    }
    // Someone else's read-only file: opening it for writing would be refused.
    EXPECT_EQ(testutil::asnobody([&] {
                  Bytes mine;
                  int result = testutil::outcome([&] { binio::loadfile(path, mine); });
                  if (result != testutil::kNoError) {
                      return result;
                  }
                  return static_cast<int>(mine == content ? testutil::kOk : testutil::kWrongResult);
              }),
              testutil::kOk);
#endif
}

struct FailureCase {
    const char* name;
    std::function<std::string(const TempDir&)> setup;  // returns the path to load
    int code;
    std::string message;
};

const std::string kNotFound = testutil::iomessage(2);
const std::string kBadName = testutil::iomessage(3);

// What a row's setup keeps open while its load runs: the other end of a pipe, a file another
// program holds.
std::vector<binio::Handle> held;

TEST(Load, FailuresGiveCodeAndLeaveDocument) {
    const FailureCase cases[] = {
        {"missing file", [](const TempDir& d) { return d / "nothing"; }, 2, kNotFound},
        {"missing folder", [](const TempDir& d) { return d / "nofolder/file"; }, 3, kBadName},
        {"file used as folder",
         [](const TempDir& d) {
             testutil::writefile(d / "plain", "x");
             return d / "plain/file";
         },
         3, kBadName},
        {"directory",
         [](const TempDir& d) {
             std::filesystem::create_directory(d / "sub");
             return d / "sub";
         },
         5, testutil::kAccessDenied},
#ifdef _WIN32
        {"fifo", [](const TempDir&) { return notonthissystem("no FIFOs on Windows"); }, 5,
         testutil::kAccessDenied},
        {"character device", [](const TempDir&) { return std::string("NUL"); }, 5,
         testutil::kAccessDenied},
        {"socket", [](const TempDir&) { return notonthissystem("no sockets in Windows folders"); },
         5, testutil::kAccessDenied},
        {"named pipe",
         [](const TempDir&) {
             const std::string path =
                 "\\\\.\\pipe\\binio-test-" + std::to_string(::GetCurrentProcessId());
             held.emplace_back(::CreateNamedPipeA(path.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE,
                                                  1, 4096, 4096, 0, nullptr));
             return path;
         },
         5, testutil::kAccessDenied},
        {"file another program opened without sharing",
         [](const TempDir& d) {
             const std::string path = d / "locked";
             testutil::writefile(path, "locked");
             held.emplace_back(::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                             OPEN_EXISTING, 0, nullptr));
             return path;
         },
         32, "I/O エラー (32)"},
#else
        {"fifo",
         [](const TempDir& d) {
             ::mkfifo((d / "fifo").c_str(), 0644);
             return d / "fifo";
         },
         5, testutil::kAccessDenied},
        {"character device", [](const TempDir&) { return std::string("/dev/null"); }, 5,
         testutil::kAccessDenied},
        {"socket",
         [](const TempDir& d) {
             const std::string path = d / "socket";
             sockaddr_un address{};
             address.sun_family = AF_UNIX;
             path.copy(address.sun_path, sizeof address.sun_path - 1);
             int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
             // The socket's name stays in the folder after its descriptor is closed.
             ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
             ::close(fd);
             return path;
         },
         5, testutil::kAccessDenied},
        {"named pipe", [](const TempDir&) { return notonthissystem("Windows's pipes"); }, 5,
         testutil::kAccessDenied},
        {"file another program opened without sharing",
         [](const TempDir&) { return notonthissystem("no mandatory locks on Linux"); }, 32,
         "I/O エラー (32)"},
#endif
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const std::string path = c.setup(dir);
        if (!path.empty()) {
            EXPECT_EQ(failingload(path, c.message), c.code);
        }
        held.clear();
    }
}

TEST(Load, AccessDenied) {
#ifdef _WIN32
    GTEST_SKIP() << "becoming another user who may not read is tried on Linux only";
#else
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to make files nobody may read and to become nobody";
    }
    TempDir dir;
    testutil::writefile(dir / "secret", "secret");
    ASSERT_EQ(::chmod((dir / "secret").c_str(), 0000), 0);
    ASSERT_EQ(::mkdir((dir / "closed").c_str(), 0700), 0);
    testutil::writefile(dir / "closed/inside", "inside");
    for (const std::string name : {"secret", "closed/inside"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(
            testutil::asnobody([&] { return failingload(dir / name, testutil::kAccessDenied); }),
            5);
    }
#endif
}

TEST(Load, TooManyOpenFiles) {
    if (const char* why = testutil::nofilelimit()) {
        GTEST_SKIP() << why;
    }
    TempDir dir;
    testutil::writefile(dir / "file", "content");
    EXPECT_EQ(testutil::withoutfiles([&] {
                  Bytes doc = kBefore;
                  int result = testutil::outcome([&] { binio::loadfile(dir / "file", doc); });
                  return doc == kBefore ? result : static_cast<int>(testutil::kWrongResult);
              }),
              4);
}

TEST(Load, FilesOf2GiBOrMoreAreOutOfRange) {
    TempDir dir;
    for (std::int64_t size : {std::int64_t{1} << 31, std::int64_t{1} << 32}) {
        SCOPED_TRACE(size);
        const std::string path = dir / ("sparse" + std::to_string(size));
        if (!testutil::makesparse(path, size)) {
            GTEST_SKIP() << "the file system refuses a sparse file of " << size << " bytes";
        }
        Bytes doc = kBefore;
        try {
            binio::loadfile(path, doc);
            ADD_FAILURE() << "no error";
        } catch (const binio::RangeError& e) {
            EXPECT_STREQ(e.what(), "範囲チェックエラー");
        }
        EXPECT_EQ(doc, kBefore);
        std::filesystem::remove(path);
    }
}

// Made-up system files for a load's memory check: paths under a root of their own, and contents.
using SystemFiles = std::vector<std::pair<std::string, std::string>>;

std::string mib(std::uint64_t n) {
    return std::to_string(n << 20);
}

// /proc/meminfo with `available` and `swap` MiB free, joined with `more`.
SystemFiles meminfo(std::uint64_t available, std::uint64_t swap, SystemFiles more = {}) {
    more.emplace_back("proc/meminfo",
                      "MemTotal: 99999999 kB\nMemAvailable: " + std::to_string(available << 10) +
                          " kB\nSwapFree: " + std::to_string(swap << 10) + " kB\n");
    return more;
}

// The process in cgroup v2 /user/app, whose parent /user has `parentmax`, itself `ownmax` and
// both have used `current` bytes, `cache` of them page cache; plenty of memory on the system.
SystemFiles cgroupv2(const std::string& parentmax, const std::string& ownmax,
                     const std::string& current, const std::string& cache) {
    SystemFiles files = {
        {"proc/self/cgroup", "0::/user/app\n"},
        {"proc/self/mountinfo", "30 20 0:26 / /sys/fs/cgroup rw - cgroup2 none rw\n"}};
    for (const auto& [folder, max] : {std::pair{"user", parentmax}, {"user/app", ownmax}}) {
        const std::string at = std::string("sys/fs/cgroup/") + folder + "/";
        files.insert(files.end(), {{at + "memory.max", max},
                                   {at + "memory.current", current},
                                   {at + "memory.stat", "anon 1\nactive_file " + cache + "\n"}});
    }
    return meminfo(std::uint64_t{1} << 16, 0, files);
}

#ifndef _WIN32
// Limits the address space to 256 MiB more than the process has now.
bool limitaddressspace() {
    long pages = 0;
    if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%ld", &pages) != 1) {
            pages = 0;
        }
        std::fclose(statm);
    }
    struct rlimit limit {};
    limit.rlim_cur = limit.rlim_max =
        static_cast<rlim_t>(pages) * ::sysconf(_SC_PAGESIZE) + (rlim_t{256} << 20);
    return pages != 0 && ::setrlimit(RLIMIT_AS, &limit) == 0;
}
#endif

// A load that would not fit in memory fails for that before it takes the memory, the document
// kept, and a load that fits is not refused. A load of n bytes needs n + n/256 + 2 MiB: 66.25 MiB
// for the 64 MiB rows, whose figures are made-up files under a root of their own. The rows under a
// real limit run in a child that a load taking the memory anyway would get killed: there the
// largest document, 2^31 - 1 bytes, is loaded.
TEST(Load, LoadsThatDoNotFitInMemoryAreRefused) {
    constexpr std::int64_t kMadeUp = std::int64_t{64} << 20;
    constexpr std::int64_t kLargest = (std::int64_t{1} << 31) - 1;
    const SystemFiles limited = cgroupv2("max", mib(1000), mib(950), "0");
    const SystemFiles cached = cgroupv2("max", mib(1000), mib(1000), mib(70));
    const struct {
        const char* name;
        SystemFiles files;
        std::int64_t size;
        bool toend;
        int expected;
        std::function<bool()> limit = {};  // sets a real limit in the child instead of `files`
    } cases[] = {
        {"cgroup's limit less its use", limited, kMadeUp, false, testutil::kOutOfMemory},
        {"parent cgroup's limit", cgroupv2(mib(1000), "max", mib(950), "0"), kMadeUp, false,
         testutil::kOutOfMemory},
        {"page cache counts as free", cached, kMadeUp, false, testutil::kOk},
        {"cgroup v1, mounted where mountinfo escapes a space",
         meminfo(std::uint64_t{1} << 16, 0,
                 {{"proc/self/cgroup", "5:cpu,memory:/app\n"},
                  {"proc/self/mountinfo", "31 20 0:27 / /cg/m\\040m rw - cgroup none rw,memory\n"},
                  {"cg/m m/app/memory.limit_in_bytes", mib(1000)},
                  {"cg/m m/app/memory.usage_in_bytes", mib(950)}}),
         kMadeUp, false, testutil::kOutOfMemory},
        {"system's available memory", meminfo(50, 0), kMadeUp, false, testutil::kOutOfMemory},
        {"free swap counts", meminfo(50, 50), kMadeUp, false, testutil::kOk},
        {"read to its end", limited, kMadeUp, true, testutil::kOutOfMemory},
        {"read to its end, page cache counted", cached, kMadeUp, true, testutil::kOk},
#ifndef _WIN32
        {"address-space limit", {}, kLargest, false, testutil::kOutOfMemory, limitaddressspace},
#endif
    };
    TempDir dir;
    for (const std::int64_t size : {kMadeUp, kLargest}) {
        if (!testutil::makesparse(dir / std::to_string(size), size)) {
            GTEST_SKIP() << "the file system refuses a sparse file of " << size << " bytes";
        }
    }
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir root;
        binio::LoadSettings settings;
        settings.readtoend = c.toend;
        if (c.limit) {
            if (testutil::kSanitized) {
                std::printf("row not run: the sanitizer runtime cannot run under a limit\n");
                continue;
            }
        } else {
#ifdef _WIN32
            notonthissystem("Windows's memory is not read from files");
            continue;
#endif
            settings.systemroot = root.path();
            for (const auto& [name, content] : c.files) {
                std::filesystem::create_directories(
                    std::filesystem::path(root / name).parent_path());
                testutil::writefile(root / name, content);
            }
        }
        const auto load = [&] {
            if (c.limit && !c.limit()) {
                return static_cast<int>(testutil::kSetupFailed);
            }
            Bytes doc = kBefore;
            const int result = testutil::outcome([&] {
                binio::loadfile(dir / std::to_string(c.size), doc, binio::Progress(), settings);
            });
            if (result == testutil::kNoError) {
                return static_cast<int>(doc.size() == std::size_t(c.size) ? testutil::kOk
                                                                          : testutil::kWrongResult);
            }
            return doc == kBefore ? result : static_cast<int>(testutil::kWrongResult);
        };
#ifdef _WIN32
        EXPECT_EQ(load(), c.expected);
#else
        EXPECT_EQ(testutil::runinchild(load), c.expected);
#endif
    }
    EXPECT_STREQ(binio::OutOfMemoryError().what(), "メモリが足りません");
}

// A file large enough for a second thread to make the buffer's pages: cancelled half-way without
// a trace, then loaded whole, by its size and read to its end, into room reserved up front or,
// where the system charges all of that room (strict overcommit, "2"), into pieces. In a child,
// where a helper thread left unjoined would end only the child.
TEST(Load, LargeFileCancelledThenLoaded) {
    TempDir dir;
    const Bytes content = testutil::randombytes(29, (std::size_t{24} << 20) + 3);
    const std::string path = dir / "large";
    testutil::writefile(path, content);
    for (const LoadWay& way : kLoadWays) {
        SCOPED_TRACE(way.name);
        TempDir root;
        const binio::LoadSettings settings = way.settings(root);
        const auto cancelthenload = [&] {
            Bytes doc = kBefore;
            binio::Stop stop;
            const auto halfway = [&](std::uint64_t done, std::uint64_t) {
                if (done >= content.size() / 2) {
                    stop.request();
                }
            };
            if (testutil::outcome([&] { binio::loadfile(path, doc, halfway, settings, stop); }) !=
                    testutil::kCancelled ||
                doc != kBefore) {
                return static_cast<int>(testutil::kWrongResult);
            }
            binio::loadfile(path, doc, binio::Progress(), settings);
            return static_cast<int>(doc == content ? testutil::kOk : testutil::kWrongResult);
        };
#ifdef _WIN32
        EXPECT_EQ(cancelthenload(), testutil::kOk);
#else
        EXPECT_EQ(testutil::runinchild(cancelthenload), testutil::kOk);
#endif
    }
}

#ifndef _WIN32
// The process's anonymous memory in MiB, as the system counts it.
std::int64_t anonmib() {
    std::ifstream status("/proc/self/status");
    std::string key;
    std::int64_t kib = -1;
    while (status >> key && key != "RssAnon:") {
        status.ignore(1 << 10, '\n');
    }
    status >> kib;
    return kib / 1024;
}
#endif

// Waits up to ten seconds for `done`, which no machine needs: a wait that ends is the answer.
bool within10s(const std::function<bool()>& done) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

#ifdef _WIN32
// In a job that lets a process commit 128 MiB, memoryavailable() reports no more, and a larger load
// is refused. The process stays in the job, but not under its limit.
TEST(Load, JobsMemoryLimitRefusesLoadsThatDoNotFit) {
    constexpr SIZE_T kLimit = SIZE_T{128} << 20;
    const binio::Handle job(::CreateJobObjectW(nullptr, nullptr));
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limit{}, kept{};
    limit.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_PROCESS_MEMORY;
    limit.ProcessMemoryLimit = kLimit;
    const auto setlimit = [&] {
        return ::SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limit,
                                         sizeof limit);
    };
    if (!setlimit() ||
        !::QueryInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &kept,
                                     sizeof kept, nullptr) ||
        kept.ProcessMemoryLimit != kLimit) {
        GTEST_SKIP() << "the system does not keep a job's memory limit (Wine 8 does not)";
    }
    TempDir dir;
    ASSERT_TRUE(testutil::makesparse(dir / "large", std::int64_t{192} << 20));
    ASSERT_TRUE(::AssignProcessToJobObject(job.get(), ::GetCurrentProcess()));
    EXPECT_LE(binio::memoryavailable("/"), kLimit);
    Bytes doc;
    EXPECT_EQ(testutil::outcome([&] { binio::loadfile(dir / "large", doc); }),
              testutil::kOutOfMemory);
    limit.BasicLimitInformation.LimitFlags = 0;
    EXPECT_TRUE(setlimit());
}
#endif

// A worker's read that waits in the system (a real read of a pipe that nobody writes, see
// fscalls::Stall) is interrupted once a stop is requested, and not started again: the load ends.
TEST(Worker, StopEndsAReadThatWaits) {
    TempDir dir;
    testutil::writefile(dir / "file", "content");
    ASSERT_TRUE(fscalls::stall.arm(1));
    binio::Stop stop;
    binio::Worker worker(
        [path = dir / "file", stop] {
            Bytes doc;
            binio::loadfile(path, doc, {}, stop);
        },
        [] {}, stop);
    EXPECT_TRUE(fscalls::stall.waitforcall()) << "the read returned uninterrupted";
    stop.request();
    EXPECT_TRUE(within10s([&] { return worker.finished(); }));
    fscalls::stall.release();
    EXPECT_EQ(testutil::outcome([&] { worker.rethrow(); }), testutil::kCancelled);
}

// A load whose read stalls holds what it has read and a bounded margin of pages made ahead of it,
// and once it is given up, only what it has read: 33 MiB of a 512 MiB file here, by its size, and
// read to its end into reserved room or into pieces.
TEST(Load, StalledLoadGivenUpHoldsWhatItRead) {
#ifdef _WIN32
    GTEST_SKIP() << "the memory a load holds is read from /proc, which Windows does not have";
#else
    constexpr std::int64_t kRead = 33;
    constexpr std::int64_t kAhead = 64 + 4;  // the helper's distance and its chunk
    constexpr std::int64_t kMargin = 8;      // the block being read, stacks, rounding
    TempDir dir;
    const std::string path = dir / "stalling";
    ASSERT_TRUE(testutil::makesparse(path, std::int64_t{512} << 20));
    for (const LoadWay& way : kLoadWays) {
        SCOPED_TRACE(way.name);
        TempDir root;
        const binio::LoadSettings settings = way.settings(root);
        EXPECT_EQ(testutil::runinchild([&] {
                      const std::int64_t before = anonmib();
                      if (!fscalls::stall.arm(0, fscalls::Step::io, kRead << 20)) {
                          return static_cast<int>(testutil::kSetupFailed);
                      }
                      binio::Stop stop;
                      std::thread load([&] {
                          Bytes doc;
                          binio::loadfile(path, doc, binio::Progress(), settings, stop);
                      });
                      load.detach();  // it does not end: the child exits past it
                      if (!fscalls::stall.waitforcall()) {
                          return static_cast<int>(testutil::kSetupFailed);
                      }
                      if (anonmib() - before > kRead + kAhead + kMargin) {
                          return 1;  // the helper ran too far ahead
                      }
                      stop.request();
                      return within10s([&] { return anonmib() - before <= kRead + kMargin; })
                                 ? static_cast<int>(testutil::kOk)
                                 : 2;  // kept what it made past the read
                  }),
                  testutil::kOk);
    }
#endif
}

// A load read to its end into reserved room gives back the pages made past the content.
TEST(Load, ReadToEndGivesBackPagesPastTheContent) {
#ifdef _WIN32
    GTEST_SKIP() << "room is reserved on Linux only";
#else
    TempDir dir;
    const Bytes content = testutil::randombytes(37, (std::size_t{40} << 20) + 5);
    testutil::writefile(dir / "file", content);
    binio::LoadSettings settings;
    settings.systemroot = dir.path();  // no figures: nothing refused, room reserved
    settings.readtoend = true;
    Bytes doc;
    binio::loadfile(dir / "file", doc, binio::Progress(), settings);
    ASSERT_TRUE(doc == content);
    ASSERT_GT(doc.capacity(), doc.size()) << "read into reserved room";
    const std::size_t page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    const auto from =
        (reinterpret_cast<std::uintptr_t>(doc.data()) + doc.size() + page - 1) / page * page;
    const auto to = (reinterpret_cast<std::uintptr_t>(doc.data()) + doc.capacity()) / page * page;
    std::vector<unsigned char> resident((to - from) / page);
    ASSERT_EQ(::mincore(reinterpret_cast<void*>(from), to - from, resident.data()), 0);
    std::size_t kept = 0;
    for (const unsigned char r : resident) {
        kept += r & 1;
    }
    EXPECT_EQ(kept, 0u) << "pages kept past the content";
#endif
}

TEST(Load, FileChangingDuringLoad) {
    constexpr std::size_t kMiB = std::size_t{1} << 20;
    const Bytes original = testutil::randombytes(17, 3 * kMiB);
    const struct {
        const char* name;
        std::int64_t newsize;  // -1: append instead
        bool atstart;          // change at the first report instead of after the first block
    } cases[] = {
        {"shrinks after the first block", 3 * kMiB / 2, false},
        {"emptied before the first read", 0, true},
        {"shrinks by one byte", 3 * kMiB - 1, false},
        {"grows", -1, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const std::string path = dir / "changing";
        testutil::writefile(path, original);
        Bytes doc = kBefore;
        bool changed = false;
        auto change = [&](std::uint64_t done, std::uint64_t) {
            if (!changed && (c.atstart || done > 0)) {
                changed = true;
                if (c.newsize >= 0) {
                    // While the load has the file open: on Windows this needs its write sharing.
                    std::error_code error;
                    std::filesystem::resize_file(path, static_cast<std::uintmax_t>(c.newsize),
                                                 error);
                    EXPECT_FALSE(error) << error.message();
                } else {
                    FILE* f = std::fopen(path.c_str(), "ab");
                    EXPECT_NE(f, nullptr) << "the load keeps others from writing";
                    if (f != nullptr) {
                        std::fputs("appended", f);
                        std::fclose(f);
                    }
                }
            }
        };
        if (c.newsize >= 0) {
            try {
                binio::loadfile(path, doc, change);
                ADD_FAILURE() << "no error";
            } catch (const binio::IOError& e) {
                EXPECT_EQ(e.code(), 100);
            }
            EXPECT_EQ(doc, kBefore);
        } else {
            binio::loadfile(path, doc, change);
            EXPECT_TRUE(doc == original) << "size " << doc.size();
        }
        EXPECT_TRUE(changed);
    }
}

TEST(IOMessage, Texts) {
    for (const auto& [code, text] : testutil::kIOMessages) {
        SCOPED_TRACE(code);
        EXPECT_EQ(binio::iomessage(code), text);
        EXPECT_EQ(binio::IOError(code).what(), text);
        EXPECT_EQ(binio::IOError(code).code(), code);
    }
}

}  // namespace
