// Saving never replaces anything and a failed save leaves no file: existing names, folders that
// are missing or closed, a full disk, and both ways binio::OutputFile makes its file.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "binio/binio.h"
#include "binio/fileio.h"
#include "tests/testutil.h"

namespace {

// A save's target name as the calls below see it. While `path` is set they record the save's
// sync and link calls in order, each with whether the target had a name at that moment, and the
// first lstat() of `path` that finds nothing makes `appear` ("file" or "symlink") there right
// behind it, as another program could between a check and an open.
struct Watch {
    std::string path;
    std::string appear;
    std::vector<std::string> calls;
    int failwait = 0;  // an error for the sync_file_range() calls that wait for the disk
};
Watch watch;

template <typename Function>
Function real(const char* name) {
    return reinterpret_cast<Function>(::dlsym(RTLD_NEXT, name));
}
const auto reallstat = real<int (*)(const char*, struct stat*)>("lstat");

void record(std::string call, int fd) {
    if (watch.path.empty()) {
        return;
    }
    struct stat st {};
    if (fd >= 0) {
        call += ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode) ? " folder" : " file";
    }
    call += reallstat(watch.path.c_str(), &st) == 0 ? ", named" : ", no name";
    watch.calls.push_back(call);
}

}  // namespace

extern "C" int fdatasync(int fd) {
    static const auto next = real<int (*)(int)>("fdatasync");
    record("fdatasync", fd);
    return next(fd);
}

extern "C" int fsync(int fd) {
    static const auto next = real<int (*)(int)>("fsync");
    record("fsync", fd);
    return next(fd);
}

extern "C" int linkat(int olddir, const char* oldpath, int newdir, const char* newpath,
                      int flags) noexcept {
    static const auto next = real<int (*)(int, const char*, int, const char*, int)>("linkat");
    record("linkat", -1);
    return next(olddir, oldpath, newdir, newpath, flags);
}

extern "C" int sync_file_range(int fd, off64_t offset, off64_t nbytes, unsigned int flags) {
    static const auto next = real<int (*)(int, off64_t, off64_t, unsigned int)>("sync_file_range");
    if (watch.failwait != 0 && (flags & SYNC_FILE_RANGE_WAIT_AFTER) != 0) {
        errno = watch.failwait;
        return -1;
    }
    return next(fd, offset, nbytes, flags);
}

extern "C" int lstat(const char* path, struct stat* buf) noexcept {
    const int result = reallstat(path, buf);
    if (result != 0 && !watch.appear.empty() && watch.path == path) {
        const int saved = errno;
        if (watch.appear == "file") {
            testutil::writefile(watch.path, "someone else's");
        } else if (::symlink("elsewhere", path) != 0) {
            std::abort();
        }
        watch.appear.clear();
        errno = saved;
    }
    return result;
}

namespace {

using testutil::Bytes;
using testutil::TempDir;

const char kDenied[] = "ファイルへのアクセスが拒否されました";

// Every way to write a document under a new name.
struct Saver {
    const char* name;
    std::function<void(const std::string&, const Bytes&)> save;
};

void fallbacksave(const std::string& path, const Bytes& doc) {
    binio::OutputFile out(path, /*allowunnamed=*/false);
    out.write(doc.data(), doc.size());
    out.commit();
}

const Saver kSavers[] = {
    {"savebin", [](const std::string& p, const Bytes& d) { binio::savebin(p, d); }},
    {"hex", [](const std::string& p, const Bytes& d) { binio::savetext(p, d, 16); }},
    {"bin", [](const std::string& p, const Bytes& d) { binio::savetext(p, d, 2); }},
    {"dec", [](const std::string& p, const Bytes& d) { binio::savetext(p, d, 10); }},
    {"radix 8", [](const std::string& p, const Bytes& d) { binio::savetext(p, d, 8); }},
    {"named OutputFile", fallbacksave},
};

const Bytes kDoc = {'n', 'e', 'w', 0, 1, 2};

// The code the save failed with; kWrongMessage if what() does not read `message`.
int savecode(const Saver& saver, const std::string& path, const std::string& message) {
    try {
        saver.save(path, kDoc);
    } catch (const binio::IOError& e) {
        return e.what() == message ? e.code() : static_cast<int>(testutil::kWrongMessage);
    }
    return testutil::kNoError;
}

struct stat statof(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        throw std::runtime_error("cannot stat " + path);
    }
    return st;
}

// Puts the modification time far in the past, so that any write would show.
void backdate(const std::string& path) {
    const struct timespec times[2] = {{1000000000, 0}, {1000000000, 0}};
    ::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW);
}

TEST(Save, NeverReplacesAnything) {
    for (const auto& saver : kSavers) {
        SCOPED_TRACE(saver.name);
        TempDir dir;
        testutil::writefile(dir / "file", "old content");
        backdate(dir / "file");
        ASSERT_EQ(::mkdir((dir / "folder").c_str(), 0755), 0);
        ASSERT_EQ(::symlink("file", (dir / "link").c_str()), 0);
        ASSERT_EQ(::symlink("target", (dir / "dangling").c_str()), 0);

        EXPECT_EQ(savecode(saver, dir / "file", "I/O エラー (80)"), 80);
        EXPECT_EQ(testutil::readfile(dir / "file"), "old content");
        EXPECT_EQ(statof(dir / "file").st_mtim.tv_sec, 1000000000);

        EXPECT_EQ(savecode(saver, dir / "folder", kDenied), 5);
        EXPECT_TRUE(S_ISDIR(statof(dir / "folder").st_mode));
        EXPECT_EQ(statof(dir / "folder").st_nlink, 2u) << "nothing was made inside";

        EXPECT_EQ(savecode(saver, dir / "link", "I/O エラー (80)"), 80);
        EXPECT_TRUE(S_ISLNK(statof(dir / "link").st_mode));
        EXPECT_EQ(testutil::readfile(dir / "file"), "old content");
        EXPECT_EQ(statof(dir / "file").st_mtim.tv_sec, 1000000000);

        EXPECT_EQ(savecode(saver, dir / "dangling", "I/O エラー (80)"), 80);
        EXPECT_TRUE(S_ISLNK(statof(dir / "dangling").st_mode));
        EXPECT_FALSE(testutil::exists(dir / "target"));
    }
}

TEST(Save, BadFolder) {
    for (const auto& saver : kSavers) {
        SCOPED_TRACE(saver.name);
        TempDir dir;
        testutil::writefile(dir / "plain", "x");
        EXPECT_EQ(savecode(saver, dir / "missing/out", "不正なファイル名です"), 3);
        EXPECT_EQ(savecode(saver, dir / "plain/out", "不正なファイル名です"), 3);
        EXPECT_EQ(testutil::readfile(dir / "plain"), "x");
    }
}

// An ordinary user saves into a folder of their own, and is refused in root's folder.
TEST(Save, OrdinaryUser) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to own the folder and to become nobody";
    }
    for (const auto& saver : kSavers) {
        SCOPED_TRACE(saver.name);
        TempDir dir;  // 0755, owned by root
        ASSERT_EQ(::mkdir((dir / "own").c_str(), 0755), 0);
        ASSERT_EQ(::chown((dir / "own").c_str(), testutil::kNobody, testutil::kNobody), 0);
        EXPECT_EQ(testutil::runinchild([&] {
                      if (!testutil::dropprivileges()) {
                          return static_cast<int>(testutil::kSetupFailed);
                      }
                      return savecode(saver, dir / "out", kDenied);
                  }),
                  5);
        EXPECT_FALSE(testutil::exists(dir / "out"));

        EXPECT_EQ(testutil::runinchild([&] {
                      if (!testutil::dropprivileges()) {
                          return static_cast<int>(testutil::kSetupFailed);
                      }
                      return savecode(saver, dir / "own/out", "");
                  }),
                  testutil::kNoError);
        ASSERT_TRUE(testutil::exists(dir / "own/out"));
        EXPECT_EQ(statof(dir / "own/out").st_uid, testutil::kNobody);

        // A drop box: others may write and search it but not list it.
        ASSERT_EQ(::mkdir((dir / "dropbox").c_str(), 0733), 0);
        ASSERT_EQ(::chmod((dir / "dropbox").c_str(), 0733), 0);
        EXPECT_EQ(testutil::runinchild([&] {
                      if (!testutil::dropprivileges()) {
                          return static_cast<int>(testutil::kSetupFailed);
                      }
                      return savecode(saver, dir / "dropbox/out", "");
                  }),
                  testutil::kNoError);
        EXPECT_TRUE(testutil::exists(dir / "dropbox/out"));
    }
}

TEST(Save, TooManyOpenFiles) {
    if (testutil::kSanitized) {
        GTEST_SKIP() << "the sanitizer runtime cannot run under this limit";
    }

    TempDir dir;
    for (const auto& saver : kSavers) {
        SCOPED_TRACE(saver.name);
        EXPECT_EQ(testutil::runinchild([&] {
                      if (!testutil::exhaustdescriptors()) {
                          return static_cast<int>(testutil::kSetupFailed);
                      }
                      return savecode(saver, dir / "out", "オープンしたファイルが多すぎます");
                  }),
                  4);
        EXPECT_FALSE(testutil::exists(dir / "out"));
    }
}

// Mounts a small tmpfs on `folder`, visible to this process only; 0 or the errno.
int mountsmalldisk(const std::string& folder, const char* size = "size=64k") {
    if (::unshare(CLONE_NEWNS) != 0 ||
        ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        ::mount("tmpfs", folder.c_str(), "tmpfs", 0, size) != 0) {
        return errno;
    }
    return 0;
}

TEST(Save, DiskFullLeavesNoFile) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "mounting a small tmpfs needs root";
    }
    const Bytes big = testutil::randombytes(23, 256 * 1024);
    for (const auto& saver : kSavers) {
        if (std::string(saver.name) == "radix 8") {
            continue;  // writes nothing
        }
        SCOPED_TRACE(saver.name);
        TempDir dir;
        const std::string disk = dir / "disk";
        ASSERT_EQ(::mkdir(disk.c_str(), 0755), 0);
        EXPECT_EQ(testutil::runinchild([&] {
                      if (mountsmalldisk(disk) != 0) {
                          return static_cast<int>(testutil::kSetupFailed);
                      }
                      int code = testutil::kNoError;
                      try {
                          saver.save(disk + "/out", big);
                      } catch (const binio::IOError& e) {
                          code = std::string(e.what()) == "I/O エラー (112)"
                                     ? e.code()
                                     : static_cast<int>(testutil::kWrongMessage);
                      }
                      // The name must be gone, and the space given back with it.
                      if (testutil::exists(disk + "/out")) {
                          return static_cast<int>(testutil::kWrongResult);
                      }
                      try {
                          binio::savebin(disk + "/small", Bytes(1000, 7));
                      } catch (...) {
                          return static_cast<int>(testutil::kWrongResult);
                      }
                      return code;
                  }),
                  112);
    }
}

// A save larger than the 16 MiB that a save lets pile up in the page cache: the disk takes the
// bytes behind that window as the save goes, they leave the cache, and a failure the disk reports
// for them fails the save with nothing left behind.
TEST(Save, LargeSavesGoToTheDiskBehindAWindow) {
    constexpr std::size_t kMiB = std::size_t{1} << 20;
    const Bytes doc = testutil::randombytes(29, 40 * kMiB + 5);
    for (const auto& saver : kSavers) {
        if (std::string(saver.name) != "savebin" && std::string(saver.name) != "named OutputFile") {
            continue;  // the same path, with another number of bytes
        }
        SCOPED_TRACE(saver.name);
        TempDir dir;
        struct statfs fs {};
        ASSERT_EQ(::statfs(dir.path().c_str(), &fs), 0);
        if (fs.f_type == TMPFS_MAGIC) {
            GTEST_SKIP() << dir.path() << " is on tmpfs, whose pages never leave memory";
        }
        const std::string path = dir / "out";
        saver.save(path, doc);
        // What of the file is still in memory: the window and the block written last, at most.
        const binio::Handle file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
        void* map = ::mmap(nullptr, doc.size(), PROT_READ, MAP_SHARED, file.get(), 0);
        ASSERT_NE(map, MAP_FAILED);
        const std::size_t page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
        std::vector<unsigned char> resident((doc.size() + page - 1) / page);
        ASSERT_EQ(::mincore(map, doc.size(), resident.data()), 0);
        ::munmap(map, doc.size());
        std::size_t cached = 0;
        for (const unsigned char r : resident) {
            cached += (r & 1) * page;
        }
        EXPECT_LE(cached, 18 * kMiB);
        EXPECT_TRUE(testutil::readfile(path) == testutil::text(doc));

        watch.failwait = EIO;
        int code = testutil::kNoError;
        try {
            saver.save(dir / "failed", doc);
        } catch (const binio::IOError& e) {
            code = e.code();
        }
        watch.failwait = 0;
        EXPECT_EQ(code, binio::kWriteFault);
        std::vector<std::string> left;
        for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
            left.push_back(entry.path().filename());
        }
        EXPECT_EQ(left, std::vector<std::string>{"out"});
    }
}

TEST(OutputFile, UnnamedUntilCommit) {
    TempDir dir;
    const std::string path = dir / "out";
    {
        binio::OutputFile out(path);
        ASSERT_TRUE(out.unnamed()) << "the test folder's file system makes unnamed files";
        out.write(kDoc.data(), kDoc.size());
        EXPECT_FALSE(testutil::exists(path));
        out.commit();
        EXPECT_FALSE(out.unnamed());
    }
    EXPECT_EQ(testutil::readfile(path), testutil::text(kDoc));
}

TEST(OutputFile, UncommittedLeavesNoFile) {
    for (bool allowunnamed : {true, false}) {
        SCOPED_TRACE(allowunnamed ? "unnamed" : "named");
        TempDir dir;
        const std::string path = dir / "out";
        try {
            binio::OutputFile out(path, allowunnamed);
            EXPECT_EQ(out.unnamed(), allowunnamed);
            out.write(kDoc.data(), kDoc.size());
            // The named fallback holds the name while it writes, and keeps out other writers.
            EXPECT_EQ(testutil::exists(path), !allowunnamed);
            if (!allowunnamed) {
                EXPECT_THROW(binio::OutputFile second(path, false), binio::IOError);
                EXPECT_THROW(binio::OutputFile third(path), binio::IOError);
            }
            throw std::runtime_error("stop before commit");
        } catch (const std::runtime_error&) {
        }
        EXPECT_FALSE(testutil::exists(path));
        EXPECT_EQ(statof(dir.path()).st_nlink, 2u);
    }
}

// A name that appears while an unnamed file is written is not replaced by the commit, whether
// the file is linked through /proc or, where /proc is missing, by its descriptor.
TEST(OutputFile, NameTakenBeforeCommit) {
    for (bool withproc : {true, false}) {
        SCOPED_TRACE(withproc ? "with /proc" : "without /proc");
        if (!withproc && ::geteuid() != 0) {
            GTEST_SKIP() << "hiding /proc needs root";
        }
        TempDir dir;
        const std::string path = dir / "out";
        EXPECT_EQ(testutil::runinchild([&] {
                      if (!withproc && mountsmalldisk("/proc", "size=16k") != 0) {
                          return static_cast<int>(testutil::kSetupFailed);
                      }
                      // An ordinary save still works.
                      binio::savebin(dir / "plain", kDoc);
                      binio::OutputFile out(path);
                      if (!out.unnamed()) {
                          return static_cast<int>(testutil::kWrongResult);
                      }
                      out.write(kDoc.data(), kDoc.size());
                      testutil::writefile(path, "someone else's");
                      return testutil::outcome([&] { out.commit(); });
                  }),
                  80);
        EXPECT_EQ(testutil::readfile(path), "someone else's");
        EXPECT_EQ(testutil::readfile(dir / "plain"), testutil::text(kDoc));
    }
}

// The data is on disk before the file gets its name, and the folder holding the new name is
// synced after; the named fallback holds its name from the start and syncs in the same order.
TEST(Save, SyncsDataBeforeNameAndFolderAfter) {
    const std::vector<std::string> unnamed = {"fdatasync file, no name", "linkat, no name",
                                              "fsync folder, named"};
    const std::vector<std::string> named = {"fdatasync file, named", "fsync folder, named"};
    for (const auto& saver : kSavers) {
        SCOPED_TRACE(saver.name);
        TempDir dir;
        watch = {dir / "out", "", {}};
        saver.save(dir / "out", kDoc);
        EXPECT_EQ(watch.calls, std::string(saver.name) == "named OutputFile" ? named : unnamed);
        watch = {};
    }
}

// The named fallback creates its name exclusively: a file or symlink that appears between the
// check for the name and the open is neither written nor followed.
TEST(OutputFile, NameAppearingBeforeNamedOpen) {
    for (const std::string kind : {"file", "symlink"}) {
        SCOPED_TRACE(kind);
        TempDir dir;
        const std::string path = dir / "out";
        watch = {path, kind, {}};
        EXPECT_EQ(testutil::outcome([&] { fallbacksave(path, kDoc); }), 80);
        const bool appeared = watch.appear.empty();
        watch = {};
        ASSERT_TRUE(appeared);
        if (kind == "file") {
            EXPECT_EQ(testutil::readfile(path), "someone else's");
        } else {
            EXPECT_TRUE(S_ISLNK(statof(path).st_mode));
            EXPECT_FALSE(testutil::exists(dir / "elsewhere"));
        }
    }
}

TEST(Save, NewFileModeFollowsUmask) {
    TempDir dir;
    for (mode_t mask : {mode_t{022}, mode_t{002}, mode_t{027}, mode_t{077}}) {
        const mode_t old = ::umask(mask);
        for (const auto& saver : kSavers) {
            SCOPED_TRACE(std::string(saver.name) + ", umask " + std::to_string(mask));
            const std::string path = dir / (std::string(saver.name) + std::to_string(mask));
            saver.save(path, kDoc);
            EXPECT_EQ(statof(path).st_mode & 07777, 0666 & ~mask);
        }
        ::umask(old);
    }
}

TEST(Save, RelativeNameGoesToWorkingFolder) {
    TempDir dir;
    EXPECT_EQ(testutil::runinchild([&] {
                  if (::chdir(dir.path().c_str()) != 0) {
                      return static_cast<int>(testutil::kSetupFailed);
                  }
                  binio::savebin("out", kDoc);
                  return static_cast<int>(testutil::kOk);
              }),
              testutil::kOk);
    EXPECT_EQ(testutil::readfile(dir / "out"), testutil::text(kDoc));
}

}  // namespace
