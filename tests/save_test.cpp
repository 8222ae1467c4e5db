// Saving never replaces anything and a failed save leaves no file: existing names, folders that
// are missing or closed, a full disk, and the ways binio::OutputFile makes its file. The calls a
// save makes are watched, and made to fail, through binio's table of system calls.
#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "binio/binio.h"
#include "binio/fileio.h"
#include "binio/syscalls.h"
#include "tests/fscalls.h"
#include "tests/testutil.h"

namespace {

using binio::SystemCalls;
using fscalls::real;

// A save's target name as the calls below see it. While `path` is set they record the save's
// flushes and the calls that give the target its name in order, each with whether the target had
// a name at that moment, and the first look-up of `path` that finds nothing makes `appear`
// ("file" or "symlink") there right behind it, as another program could between a check and an
// open.
struct Watch {
    std::string path;
    std::string appear;
    std::vector<std::string> calls;
    int failwait = 0;  // an error for the sync_file_range() calls that wait for the disk
    int norename = 0;  // an error for every renameat2(), as a file system without it gives
    int nolink = 0;    // an error for every linkat(), likewise
};
Watch watch;

// Whether `name`, as a call was given it, names the watched target.
bool istarget(const std::filesystem::path& name) {
    return !watch.path.empty() && name.filename() == std::filesystem::path(watch.path).filename();
}

void record(std::string call) {
    if (!watch.path.empty()) {
        watch.calls.push_back(call + (testutil::exists(watch.path) ? ", named" : ", no name"));
    }
}

// A call that names `to`: false, the system's error set to `error`, when that is not 0; recorded
// when it names the target.
bool naming(const char* call, const std::filesystem::path& to, int error) {
    fscalls::System::seterror(error);
    if (error == 0 && istarget(to)) {
        record(call);
    }
    return error == 0;
}

// A look-up of the target that finds nothing makes `appear` there.
const fscalls::OnMisses lookups([](const std::filesystem::path& name) {
    if (watch.appear.empty() || !istarget(name)) {
        return;
    }
    if (watch.appear == "file") {
        testutil::writefile(watch.path, "someone else's");
    } else {
        std::filesystem::create_symlink("elsewhere", watch.path);
    }
    watch.appear.clear();
});

#ifdef _WIN32
const binio::Replaced flushes(&SystemCalls::FlushFileBuffers, [](HANDLE file) {
    record("FlushFileBuffers file");
    return real.FlushFileBuffers(file);
});
const binio::Replaced moves(&SystemCalls::MoveFileExW, [](LPCWSTR from, LPCWSTR to, DWORD flags) {
    return naming("MoveFileExW", to, 0) ? real.MoveFileExW(from, to, flags) : FALSE;
});
#else
// Notes a flush of `fd`: a file's or a folder's.
int flushed(const char* call, int fd, int (*flush)(int)) {
    struct stat st {};
    record(call +
           std::string(real.fstat(fd, &st) == 0 && S_ISDIR(st.st_mode) ? " folder" : " file"));
    return flush(fd);
}
const binio::Replaced datasyncs(&SystemCalls::fdatasync, [](int fd) {
    return flushed("fdatasync", fd, [](int file) { return real.fdatasync(file); });
});
const binio::Replaced syncs(&SystemCalls::fsync, [](int fd) {
    return flushed("fsync", fd, [](int file) { return real.fsync(file); });
});
const binio::Replaced links(&SystemCalls::linkat, [](int olddir, const char* from, int newdir,
                                                     const char* to, int flags) {
    return naming("linkat", to, watch.nolink) ? real.linkat(olddir, from, newdir, to, flags) : -1;
});
const binio::Replaced renames(&SystemCalls::renameat2, [](int olddir, const char* from, int newdir,
                                                          const char* to, unsigned flags) {
    return naming("renameat2", to, watch.norename) ? real.renameat2(olddir, from, newdir, to, flags)
                                                   : -1;
});
const binio::Replaced ranges(&SystemCalls::sync_file_range, [](int fd, off_t offset, off_t size,
                                                               unsigned flags) {
    const bool fails = watch.failwait != 0 && (flags & SYNC_FILE_RANGE_WAIT_AFTER) != 0;
    fscalls::System::seterror(watch.failwait);
    return fails ? -1 : real.sync_file_range(fd, offset, size, flags);
});
#endif

}  // namespace

namespace {

using testutil::Bytes;
using testutil::TempDir;

// Every way to write a document under a new name.
struct Saver {
    const char* name;
    std::function<void(const std::string&, const Bytes&)> save;
};

void fallbacksave(const std::string& path, const Bytes& doc) {
    binio::OutputFile out(path, {}, /*allowunnamed=*/false);
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

// The ways an output file is written away from its name and then named: unnamed, or under a hidden
// name that is renamed without replacing or, where the file system cannot, linked; and, where it
// can do neither, the name itself written. `allowunnamed` false stands for a file system without
// unnamed files, and a failing call for one without the rename or the link.
struct Way {
    const char* name;
    bool allowunnamed;
    int norename;  // the error renameat2() gives, or 0
    int nolink;    // the error linkat() gives, or 0
    bool writesname() const { return nolink != 0; }
};

const Way kWays[] = {
    {"unnamed", true, 0, 0},
    {"hidden, renamed", false, 0, 0},
    {"hidden, linked", false, EINVAL, 0},
    {"name written", false, EINVAL, EPERM},
};

// Makes renameat2() and linkat() fail as `way` asks while it lives. Where the calls cannot be
// watched (Windows, whose saves rename their hidden file) only the ways without a failing call
// are possible.
struct Simulated {
    explicit Simulated(const Way& way) : possible(way.norename == 0 && way.nolink == 0) {
#ifndef _WIN32
        possible = true;
#endif
        watch.norename = way.norename;
        watch.nolink = way.nolink;
        if (!possible) {
            std::printf("the calls are made to fail on Linux only: row \"%s\" not run\n", way.name);
        }
    }
    ~Simulated() {
        watch.norename = watch.nolink = 0;
    }
    bool possible;
};

// The code the save failed with; kWrongMessage if what() does not read `message`.
int savecode(const Saver& saver, const std::string& path, const std::string& message) {
    try {
        saver.save(path, kDoc);
    } catch (const binio::IOError& e) {
        return e.what() == message ? e.code() : static_cast<int>(testutil::kWrongMessage);
    }
    return testutil::kNoError;
}

#ifndef _WIN32
struct stat statof(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        throw std::runtime_error("cannot stat " + path);
    }
    return st;
}
#endif

// A modification time far in the past, so that any write would show.
// A whole second, as every file system keeps it.
const std::filesystem::file_time_type kLongAgo = std::chrono::floor<std::chrono::seconds>(
    std::filesystem::file_time_type::clock::now() - std::chrono::hours(24 * 365 * 20));

// The names in a folder, sorted, in UTF-8.
std::vector<std::string> entries(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        const std::u8string utf8 = entry.path().filename().u8string();
        names.emplace_back(utf8.begin(), utf8.end());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// Makes a symbolic link; false, after saying why, where the system does not let this user.
bool makelink(const std::string& target, const std::string& link) {
    std::error_code error;
    std::filesystem::create_symlink(target, link, error);
    if (error) {
        std::printf("no symbolic link made here (%s): its rows not run\n", error.message().c_str());
    }
    return !error;
}

TEST(Save, NeverReplacesAnything) {
    for (const auto& saver : kSavers) {
        SCOPED_TRACE(saver.name);
        TempDir dir;
        namespace fs = std::filesystem;
        testutil::writefile(dir / "file", "old content");
        fs::last_write_time(dir / "file", kLongAgo);
        ASSERT_TRUE(fs::create_directory(dir / "folder"));

        EXPECT_EQ(savecode(saver, dir / "file", "I/O エラー (80)"), 80);
        EXPECT_EQ(testutil::readfile(dir / "file"), "old content");
        EXPECT_EQ(fs::last_write_time(dir / "file"), kLongAgo);

        EXPECT_EQ(savecode(saver, dir / "folder", testutil::kAccessDenied), 5);
        EXPECT_TRUE(fs::is_directory(dir / "folder"));
        EXPECT_TRUE(fs::is_empty(dir / "folder")) << "nothing was made inside";

        const bool links = makelink("file", dir / "link") && makelink("target", dir / "dangling");
        if (links) {
            EXPECT_EQ(savecode(saver, dir / "link", "I/O エラー (80)"), 80);
            EXPECT_TRUE(fs::is_symlink(dir / "link"));
            EXPECT_EQ(testutil::readfile(dir / "file"), "old content");
            EXPECT_EQ(fs::last_write_time(dir / "file"), kLongAgo);

            EXPECT_EQ(savecode(saver, dir / "dangling", "I/O エラー (80)"), 80);
            EXPECT_TRUE(fs::is_symlink(dir / "dangling"));
            EXPECT_FALSE(testutil::exists(dir / "target"));
        }
        using Names = std::vector<std::string>;
        const Names expected =
            links ? Names{"dangling", "file", "folder", "link"} : Names{"file", "folder"};
        EXPECT_EQ(entries(dir.path()), expected) << "no file of the saves' own left behind";
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
#ifdef _WIN32
    GTEST_SKIP() << "folders of another user are tried on Linux only";
#else
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to own the folder and to become nobody";
    }
    for (const auto& saver : kSavers) {
        SCOPED_TRACE(saver.name);
        TempDir dir;  // 0755, owned by root
        ASSERT_EQ(::mkdir((dir / "own").c_str(), 0755), 0);
        ASSERT_EQ(::chown((dir / "own").c_str(), testutil::kNobody, testutil::kNobody), 0);
        EXPECT_EQ(testutil::asnobody(
                      [&] { return savecode(saver, dir / "out", testutil::kAccessDenied); }),
                  5);
        EXPECT_FALSE(testutil::exists(dir / "out"));

        EXPECT_EQ(testutil::asnobody([&] { return savecode(saver, dir / "own/out", ""); }),
                  testutil::kNoError);
        ASSERT_TRUE(testutil::exists(dir / "own/out"));
        EXPECT_EQ(statof(dir / "own/out").st_uid, testutil::kNobody);

        // A drop box: others may write and search it but not list it.
        ASSERT_EQ(::mkdir((dir / "dropbox").c_str(), 0733), 0);
        ASSERT_EQ(::chmod((dir / "dropbox").c_str(), 0733), 0);
        EXPECT_EQ(testutil::asnobody([&] { return savecode(saver, dir / "dropbox/out", ""); }),
                  testutil::kNoError);
        EXPECT_TRUE(testutil::exists(dir / "dropbox/out"));
    }
#endif
}

TEST(Save, TooManyOpenFiles) {
    if (const char* why = testutil::nofilelimit()) {
        GTEST_SKIP() << why;
    }
    TempDir dir;
    for (const auto& saver : kSavers) {
        SCOPED_TRACE(saver.name);
        EXPECT_EQ(testutil::withoutfiles([&] {
                      return savecode(saver, dir / "out", "オープンしたファイルが多すぎます");
                  }),
                  4);
        EXPECT_FALSE(testutil::exists(dir / "out"));
    }
}

// A save that fills the disk, or whose flush the disk fails, fails with the system's error and
// leaves no file, nor a file open; the next save works.
TEST(Save, DiskFaultsLeaveNoFile) {
#ifdef _WIN32
    constexpr int kFlushError = ERROR_WRITE_FAULT;
#else
    constexpr int kFlushError = EIO;
#endif
    for (const auto& saver : kSavers) {
        for (const auto& [room, flusherror, code] :
             {std::tuple{3, 0, int(binio::kDiskFull)},
              std::tuple{-1, kFlushError, int(binio::kWriteFault)}}) {
            if (room >= 0 && std::string(saver.name) == "radix 8") {
                continue;  // writes nothing
            }
            SCOPED_TRACE(std::string(saver.name) + (room >= 0 ? ", disk full" : ", flush fails"));
            TempDir dir;
            // The files open, from /proc on Linux. Under Wine /proc is the host's, where Wine's
            // own descriptors come and go: no count on Windows.
            const auto openfiles = [] {
#ifdef _WIN32
                return std::ptrdiff_t{0};
#else
                return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {});
#endif
            };
            const auto files = openfiles();
            const int result = [&] {
                const fscalls::FailingDisk disk(room, flusherror);
                return savecode(saver, dir / "out", testutil::iomessage(code));
            }();
            EXPECT_EQ(result, code);
            EXPECT_EQ(entries(dir.path()), std::vector<std::string>{});
            EXPECT_EQ(openfiles(), files);
            binio::savebin(dir / "small", Bytes(1000, 7));
            EXPECT_EQ(testutil::readfile<Bytes>(dir / "small"), Bytes(1000, 7));
        }
    }
}

#ifndef _WIN32
// The first of the temporary folder, /var/tmp and the current folder (the build folder, under
// ctest) that this user may write into and that is on a disk; empty when there is none, with why
// each is not in `tried`. tmpfs and ramfs keep their files in memory: no page leaves it.
std::string diskfolder(std::string& tried) {
    for (const std::string& folder : {testutil::tempfolder(), std::string("/var/tmp"),
                                      std::filesystem::current_path().string()}) {
        struct statfs fs {};
        const bool writable =
            ::statfs(folder.c_str(), &fs) == 0 && ::access(folder.c_str(), W_OK) == 0;
        if (writable && fs.f_type != TMPFS_MAGIC && fs.f_type != RAMFS_MAGIC) {
            return folder;
        }
        tried += folder + (writable ? " keeps its files in memory; " : " cannot be written into; ");
    }
    return {};
}
#endif

// A save larger than the 16 MiB that a save lets pile up in the page cache: the disk takes the
// bytes behind that window as the save goes, and they leave the cache, which they do only on a
// disk. A failure the disk reports for them, which is made up here and so needs no disk, fails the
// save with nothing left behind.
TEST(Save, LargeSavesGoToTheDiskBehindAWindow) {
#ifdef _WIN32
    GTEST_SKIP() << "the write-behind window is Linux's sync_file_range()";
#else
    constexpr std::size_t kMiB = std::size_t{1} << 20;
    const Bytes doc = testutil::randombytes(29, 40 * kMiB + 5);
    std::string tried;
    const std::string disk = diskfolder(tried);
    for (const auto& saver : kSavers) {
        if (std::string(saver.name) != "savebin" && std::string(saver.name) != "named OutputFile") {
            continue;  // the same path, with another number of bytes
        }
        SCOPED_TRACE(saver.name);
        if (!disk.empty()) {
            const TempDir dir(disk);
            SCOPED_TRACE("in " + dir.path());
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
            EXPECT_TRUE(testutil::readfile<Bytes>(path) == doc);
        }

        const TempDir dir;
        watch.failwait = EIO;
        int code = testutil::kNoError;
        try {
            saver.save(dir / "failed", doc);
        } catch (const binio::IOError& e) {
            code = e.code();
        }
        watch.failwait = 0;
        EXPECT_EQ(code, binio::kWriteFault);
        EXPECT_EQ(entries(dir.path()), std::vector<std::string>{});
    }
    if (disk.empty()) {
        GTEST_SKIP() << "the rows that need a disk not run: " << tried
                     << "the failing disk's rows ran";
    }
#endif
}

// The name appears with the commit and not before, in every way but the last resort; only the
// name is left.
TEST(OutputFile, UnnamedUntilCommit) {
    for (const Way& way : kWays) {
        SCOPED_TRACE(way.name);
        const Simulated simulated(way);
        if (!simulated.possible) {
            continue;
        }
        TempDir dir;
        const std::string path = dir / "out";
        {
            binio::OutputFile out(path, {}, way.allowunnamed);
            ASSERT_EQ(out.unnamed(), !way.writesname())
                << "the test folder's file system makes unnamed files and renames without "
                   "replacing";
            out.write(kDoc.data(), kDoc.size());
            EXPECT_EQ(testutil::exists(path), way.writesname());
            out.commit();
            EXPECT_FALSE(out.unnamed());
        }
        EXPECT_EQ(testutil::readfile<Bytes>(path), kDoc);
        EXPECT_EQ(entries(dir.path()), std::vector<std::string>{"out"});
#ifdef _WIN32
        EXPECT_EQ(::GetFileAttributesA(path.c_str()) & FILE_ATTRIBUTE_HIDDEN, 0u)
            << "the saved file is an ordinary one";
#endif
    }
}

// Paths arrive as UTF-8 and reach the file system as written, at any length the system allows
// (on Windows, past the 260 characters of MAX_PATH).
TEST(Save, NamesReachTheFileSystemAsWritten) {
    namespace fs = std::filesystem;
    const std::string japanese = "バイナリ.bin";
    const std::string folder1(120, 'a');
    const std::string folder2(120, 'b');
    const struct {
        const char* name;
        std::string relative;  // below the test folder
    } cases[] = {
        {"Japanese name", japanese},
        {"spaces and a leading dash", "-a name with spaces"},
        {"path of more than 260 characters", folder1 + "/" + folder2 + "/" + japanese},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const std::string path = dir / c.relative;
        fs::path folder = fs::absolute(testutil::fspath(path)).parent_path();
#ifdef _WIN32
        folder = L"\\\\?\\" + folder.make_preferred().wstring();
#endif
        fs::create_directories(folder);
        ASSERT_GT(path.size(), c.relative.size());
        const Bytes doc = testutil::randombytes(31, 1000);
        binio::savebin(path, doc);
        EXPECT_EQ(binio::existingcode(path), binio::kFileExists);
        Bytes loaded;
        binio::loadfile(path, loaded);
        EXPECT_TRUE(loaded == doc);
        const std::string name = c.relative.substr(c.relative.find_last_of('/') + 1);
#ifdef _WIN32
        if (folder.native().size() >= MAX_PATH) {
            // The C runtime neither lists nor empties a folder past MAX_PATH: the test does.
            fs::remove(folder / testutil::fspath(name));
            fs::remove(folder);
            fs::remove(folder.parent_path());
            continue;
        }
#endif
        EXPECT_EQ(entries(folder), std::vector<std::string>{name});
        EXPECT_EQ(binio::existingcode(dir / (c.relative + "-not")), 0);
    }
}

TEST(OutputFile, UncommittedLeavesNoFile) {
    for (const Way& way : kWays) {
        SCOPED_TRACE(way.name);
        const Simulated simulated(way);
        if (!simulated.possible) {
            continue;
        }
        TempDir dir;
        const std::string path = dir / "out";
        try {
            binio::OutputFile out(path, {}, way.allowunnamed);
            EXPECT_EQ(out.unnamed(), !way.writesname());
            out.write(kDoc.data(), kDoc.size());
            const std::vector<std::string> names = entries(dir.path());
#ifdef _WIN32
            const bool hidden = true;
#else
            const bool hidden = !way.allowunnamed && !way.writesname();
#endif
            if (hidden) {
                // The file being written is a new hidden one in the same folder.
                ASSERT_EQ(names.size(), 1u);
                EXPECT_EQ(names[0].rfind(".tessarin-", 0), 0u) << names[0];
#ifdef _WIN32
                const DWORD attributes = ::GetFileAttributesA((dir / names[0]).c_str());
                EXPECT_NE(attributes & FILE_ATTRIBUTE_HIDDEN, 0u) << names[0];
#endif
            } else if (way.writesname()) {
                // The last resort holds the name while it writes, and keeps out other writers.
                EXPECT_EQ(names, std::vector<std::string>{"out"});
                EXPECT_THROW(binio::OutputFile second(path, {}, false), binio::IOError);
                EXPECT_THROW(binio::OutputFile third(path), binio::IOError);
            } else {
                EXPECT_TRUE(names.empty());
            }
            throw std::runtime_error("stop before commit");
        } catch (const std::runtime_error&) {
        }
        EXPECT_FALSE(testutil::exists(path));
        EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
    }
}

// A name that appears while a file is written away from it is not replaced by the commit, whether
// an unnamed file is linked through /proc or, where /proc is missing, by its descriptor, or a
// hidden file is renamed or linked; and the hidden file goes with the refusal.
TEST(OutputFile, NameTakenBeforeCommit) {
    const struct {
        bool withproc;
        const Way& way;
    } rows[] = {{true, kWays[0]}, {false, kWays[0]}, {true, kWays[1]}, {true, kWays[2]}};
    for (const auto& [withproc, way] : rows) {
        SCOPED_TRACE(std::string(way.name) + (withproc ? ", with /proc" : ", without /proc"));
        const Simulated simulated(way);
        if (!simulated.possible) {
            continue;
        }
        TempDir dir;
        const std::string path = dir / "out";
        const auto race = [&] {
            // An ordinary save still works.
            binio::savebin(dir / "plain", kDoc);
            binio::OutputFile out(path, {}, way.allowunnamed);
            if (!out.unnamed()) {
                return static_cast<int>(testutil::kWrongResult);
            }
            out.write(kDoc.data(), kDoc.size());
            testutil::writefile(path, "someone else's");
            return testutil::outcome([&] { out.commit(); });
        };
#ifdef _WIN32
        // The move that names the file is the one that must refuse.
        if (!withproc) {
            std::printf("no /proc on Windows: the row without it not run\n");
            continue;
        }
        EXPECT_EQ(race(), 80);
#else
        if (!withproc && ::geteuid() != 0) {
            std::printf("hiding /proc needs root: the row without it not run\n");
            continue;
        }
        EXPECT_EQ(testutil::runinchild([&] {
                      if (!withproc && testutil::mountsmalldisk("/proc", "size=16k") != 0) {
                          return static_cast<int>(testutil::kSetupFailed);
                      }
                      return race();
                  }),
                  80);
#endif
        EXPECT_EQ(testutil::readfile(path), "someone else's");
        EXPECT_EQ(testutil::readfile<Bytes>(dir / "plain"), kDoc);
        EXPECT_EQ(entries(dir.path()), (std::vector<std::string>{"out", "plain"}));
    }
}

// The data is on disk before the file gets its name, and the folder holding the new name is
// synced after; a hidden file is renamed to it in the same order.
TEST(Save, SyncsDataBeforeNameAndFolderAfter) {
#ifdef _WIN32
    // The move makes the name durable as it gives it (MOVEFILE_WRITE_THROUGH).
    const std::vector<std::string> unnamed = {"FlushFileBuffers file, no name",
                                              "MoveFileExW, no name"};
    const std::vector<std::string>& named = unnamed;
#else
    const std::vector<std::string> unnamed = {"fdatasync file, no name", "linkat, no name",
                                              "fsync folder, named"};
    const std::vector<std::string> named = {"fdatasync file, no name", "renameat2, no name",
                                            "fsync folder, named"};
#endif
    for (const auto& saver : kSavers) {
        SCOPED_TRACE(saver.name);
        TempDir dir;
        watch = {dir / "out", "", {}};
        saver.save(dir / "out", kDoc);
        EXPECT_EQ(watch.calls, std::string(saver.name) == "named OutputFile" ? named : unnamed);
        watch = {};
    }
}

// A file or symlink that appears between the check for the name and the open is neither written
// nor followed: the last resort creates the name exclusively, a hidden file is refused its name
// at the commit and removed.
TEST(OutputFile, NameAppearingBeforeNamedOpen) {
    for (const Way& way : {kWays[1], kWays[2], kWays[3]}) {
        const Simulated simulated(way);
        for (const std::string kind : {"file", "symlink"}) {
            SCOPED_TRACE(std::string(way.name) + ", " + kind);
            TempDir dir;
            if (!simulated.possible || (kind == "symlink" && !makelink("file", dir / "link"))) {
                continue;
            }
            std::filesystem::remove(dir / "link");
            const std::string path = dir / "out";
            watch = {path, kind, {}, 0, way.norename, way.nolink};
            EXPECT_EQ(testutil::outcome([&] { fallbacksave(path, kDoc); }), 80);
            const bool appeared = watch.appear.empty();
            watch = {};
            EXPECT_EQ(entries(dir.path()), std::vector<std::string>{"out"});
            ASSERT_TRUE(appeared);
            if (kind == "file") {
                EXPECT_EQ(testutil::readfile(path), "someone else's");
            } else {
                EXPECT_TRUE(std::filesystem::is_symlink(path));
                EXPECT_FALSE(testutil::exists(dir / "elsewhere"));
            }
        }
    }
}

TEST(Save, NewFileModeFollowsUmask) {
#ifdef _WIN32
    GTEST_SKIP() << "no umask on Windows";
#else
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
#endif
}

TEST(Save, RelativeNameGoesToWorkingFolder) {
    TempDir dir;
#ifdef _WIN32
    const auto before = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    binio::savebin("out", kDoc);
    std::filesystem::current_path(before);
#else
    EXPECT_EQ(testutil::runinchild([&] {
                  if (::chdir(dir.path().c_str()) != 0) {
                      return static_cast<int>(testutil::kSetupFailed);
                  }
                  binio::savebin("out", kDoc);
                  return static_cast<int>(testutil::kOk);
              }),
              testutil::kOk);
#endif
    EXPECT_EQ(testutil::readfile<Bytes>(dir / "out"), kDoc);
}

}  // namespace
