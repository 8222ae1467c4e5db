// Helpers shared by the binio tests (and, through windowtest.h, the widget tests): a scratch folder
// that removes itself, whole-file reads and writes, seeded random bytes, the error
// messages written out, GNU basenc's encodings, and a way to run a piece of code in a forked child
// (to drop privileges, lower limits or mount a small file system without touching the test
// process). The binio tests are also built for Windows, where the forked child and what it is for
// do not exist.
#pragma once

#ifndef _WIN32
#include <fcntl.h>
#include <grp.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "binio/binio.h"

namespace testutil {

using Bytes = std::vector<std::uint8_t>;

// The sanitizer runtimes need free descriptors (they probe memory through a pipe) and a large
// address space, so the tests that take those away are skipped under them.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

#ifndef _WIN32
// The temporary folder: $TMPDIR, or /tmp.
inline std::string tempfolder() {
    const char* base = std::getenv("TMPDIR");
    return base != nullptr && *base != 0 ? base : "/tmp";
}
#endif

// A fresh folder, removed with everything in it at the end of the scope. It is made 0755 so that
// a child running as nobody can reach the files in it.
class TempDir {
public:
#ifdef _WIN32
    // Under the system's temporary folder, named from the clock and made new by create_directory.
    TempDir() {
        namespace fs = std::filesystem;
        const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        for (int attempt = 0; path_.empty(); ++attempt) {
            const fs::path candidate =
                fs::temp_directory_path() / ("binio-test-" + std::to_string(stamp + attempt));
            if (fs::create_directory(candidate)) {
                path_ = candidate.string();
            }
        }
    }
#else
    // Under `base`, by default the temporary folder.
    explicit TempDir(const std::string& base = tempfolder()) {
        std::string pattern = base + "/binio-test-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("mkdtemp failed");
        }
        path_ = pattern;
        ::chmod(path_.c_str(), 0755);
    }
#endif
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    // Everything in it is made writable first, which Windows needs to remove a read-only file and
    // Linux to empty a read-only folder (symbolic links are left alone, not what they point to).
    // On Windows the long form of the path (\\?\ before it) reaches folders past MAX_PATH.
    ~TempDir() {
        namespace fs = std::filesystem;
#ifdef _WIN32
        const fs::path root = L"\\\\?\\" + fs::absolute(path_).make_preferred().wstring();
#else
        const fs::path root = path_;
#endif
        std::error_code ignored;
        for (fs::recursive_directory_iterator it(root, ignored), end; it != end;
             it.increment(ignored)) {
            fs::permissions(it->path(), fs::perms::owner_write,
                            fs::perm_options::add | fs::perm_options::nofollow, ignored);
        }
        fs::remove_all(root, ignored);
    }

    const std::string& path() const {
        return path_;
    }
    std::string operator/(const std::string& name) const {
        return path_ + "/" + name;
    }

private:
    std::string path_;
};

// A path as a test holds it: UTF-8 in a std::string, or a QString (anything with toStdString()).
struct Path : std::string {
    Path(std::string path) : std::string(std::move(path)) {}
    Path(const char* path) : std::string(path) {}
    template <typename Text, typename = decltype(std::declval<const Text&>().toStdString())>
    Path(const Text& path) : std::string(path.toStdString()) {}
};

// The bytes of a file as a test holds them: Bytes, a std::string, a QByteArray (anything with
// size() and data() of bytes), or the text of a C string.
struct Content : std::string_view {
    Content(const char* text) : std::string_view(text) {}
    template <typename Data, typename = std::enable_if_t<sizeof(*std::declval<Data>().data()) == 1>>
    Content(const Data& data)
        : std::string_view(reinterpret_cast<const char*>(data.data()),
                           static_cast<std::size_t>(data.size())) {}
};

// Writes a whole file anew; throws when it cannot.
inline void writefile(const Path& path, Content data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(data.data(), static_cast<std::streamsize>(data.size()));
    if (!out.flush()) {
        throw std::runtime_error("cannot write " + path);
    }
}

// What `file` (from fopen or popen) gives to its end, and it closed with `close`; `failed` when
// there is no file, or it fails to read or to close (a folder fails the first read).
template <typename Close>
std::string readall(std::FILE* file, Close close, const std::string& failed) {
    std::string bytes;
    char buffer[65536];
    for (std::size_t n; file != nullptr && (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;) {
        bytes.append(buffer, n);
    }
    const bool read = file != nullptr && std::ferror(file) == 0;
    return file != nullptr && close(file) == 0 && read ? bytes : failed;
}

// A whole file's bytes as a std::string, Bytes or QByteArray; "<cannot read PATH>" when it cannot
// be read, so that a missing file never passes for an empty one.
template <typename Data = std::string>
Data readfile(const Path& path) {
    const std::string bytes =
        readall(std::fopen(path.c_str(), "rb"), std::fclose, "<cannot read " + path + ">");
    Data data;
    data.resize(bytes.size());
    std::copy(bytes.begin(), bytes.end(), data.begin());
    return data;
}

// The file-system name of a UTF-8 path, on Windows too.
inline std::filesystem::path fspath(const std::string& path) {
    return std::u8string(path.begin(), path.end());
}

// Whether the name exists, as a symbolic link that leads nowhere too.
inline bool exists(const Path& path) {
    std::error_code ignored;
    return std::filesystem::exists(std::filesystem::symlink_status(fspath(path), ignored));
}

// Makes a sparse file of `size` bytes; false when the file system refuses that size.
inline bool makesparse(const Path& path, std::int64_t size) {
#ifdef _WIN32
    std::error_code error;
    writefile(path, Bytes{});
    std::filesystem::resize_file(fspath(path), static_cast<std::uintmax_t>(size), error);
    return !error;
#else
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        return false;
    }
    bool ok = ::ftruncate(fd, size) == 0;
    ::close(fd);
    return ok;
#endif
}

// `size` bytes from a generator started at `seed`, as Bytes or QByteArray.
template <typename Data = Bytes>
Data randombytes(std::uint64_t seed, std::size_t size) {
    std::mt19937_64 rng(seed);
    Data data;
    data.resize(size);
    for (auto& b : data) {
        b = static_cast<std::uint8_t>(rng() >> 56);
    }
    return data;
}

// The message of each I/O error code the tests meet, written out; a code without a text of its own
// reads "I/O エラー (code)". A code missing here has no expected message.
inline const std::map<int, std::string> kIOMessages = {
    {2, "ファイルが見つかりません"},
    {3, "不正なファイル名です"},
    {4, "オープンしたファイルが多すぎます"},
    {5, "ファイルへのアクセスが拒否されました"},
    {27, "I/O エラー (27)"},
    {29, "I/O エラー (29)"},
    {32, "I/O エラー (32)"},
    {80, "I/O エラー (80)"},
    {100, "ファイルの末尾以降を読み込みました"},
    {101, "ディスクがいっぱいです"},
    {112, "I/O エラー (112)"},
};

inline std::string iomessage(int code) {
    const auto text = kIOMessages.find(code);
    return text != kIOMessages.end() ? text->second
                                     : "<no message listed for code " + std::to_string(code) + ">";
}

// The message of access denied, the end of many faults.
inline const std::string kAccessDenied = iomessage(5);

// Outcomes a child reports beside an I/O error code (which are all below 200).
enum ChildResult : int {
    kOk = 0,
    kNoError = 200,
    kOutOfMemory = 201,
    kRange = 202,
    kCancelled = 203,
    kOtherError = 204,
    kWrongResult = 205,
    kSetupFailed = 206,
    kWrongMessage = 207,
};

// Runs `fn` and turns its outcome into one exit code: kNoError when it returns, the I/O error
// code (kWrongMessage if what() is not that code's message) or one of the values above.
inline int outcome(const std::function<void()>& fn) {
    try {
        fn();
        return kNoError;
    } catch (const binio::IOError& e) {
        return e.what() == iomessage(e.code()) ? e.code() : kWrongMessage;
    } catch (const binio::OutOfMemoryError&) {
        return kOutOfMemory;
    } catch (const binio::RangeError&) {
        return kRange;
    } catch (const binio::Cancelled&) {
        return kCancelled;
    } catch (...) {
        return kOtherError;
    }
}

#ifndef _WIN32
// Runs `fn` in a forked child and returns its exit status, or 300 + the signal that ended it.
// The child never returns into the test framework.
inline int runinchild(const std::function<int()>& fn) {
    std::fflush(nullptr);
    pid_t pid = ::fork();
    if (pid < 0) {
        return -1;
    }
    if (pid == 0) {
        int code = kOtherError;
        try {
            code = fn();
        } catch (...) {
        }
        ::_exit(code);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
    }
    if (WIFSIGNALED(status)) {
        return 300 + WTERMSIG(status);
    }
    return WEXITSTATUS(status);
}

// What GNU basenc makes of the file `input` with --`encoding` and no line breaks; "<basenc
// failed: COMMAND>" when it does not run to its end, which no encoding makes.
inline std::string basenc(const std::string& encoding, const Path& input) {
    const std::string command = "basenc --" + encoding + " -w0 '" + input + "'";
    return readall(::popen(command.c_str(), "r"), ::pclose, "<basenc failed: " + command + ">");
}

constexpr uid_t kNobody = 65534;

// Becomes nobody for good; false if that fails.
inline bool dropprivileges() {
    return ::setgroups(0, nullptr) == 0 && ::setgid(kNobody) == 0 && ::setuid(kNobody) == 0 &&
           ::geteuid() == kNobody;
}

// Mounts a small tmpfs on `folder`, seen by this process only; 0 or the errno.
inline int mountsmalldisk(const Path& folder, const char* size = "size=64k") {
    if (::unshare(CLONE_NEWNS) != 0 ||
        ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        ::mount("tmpfs", folder.c_str(), "tmpfs", 0, size) != 0) {
        return errno;
    }
    return 0;
}

// Runs `fn` in a forked child as nobody, or as the user when that is not root (see runinchild);
// kSetupFailed when root cannot become nobody.
inline int asnobody(const std::function<int()>& fn) {
    return runinchild([&] {
        return ::geteuid() != 0 || dropprivileges() ? fn() : static_cast<int>(kSetupFailed);
    });
}

#endif

// Why this test run cannot take the open files away, or nullptr: Windows has no limit on open
// handles to lower, and the sanitizer runtimes cannot run under it.
inline const char* nofilelimit() {
#ifdef _WIN32
    return "Windows has no limit on open handles to lower";
#else
    return kSanitized ? "the sanitizer runtime cannot run under this limit" : nullptr;
#endif
}

// Runs `fn` in a forked child whose next open() fails with EMFILE and returns its result (see
// runinchild); kSetupFailed when the limit cannot be lowered. Only where nofilelimit() is null.
inline int withoutfiles(const std::function<int()>& fn) {
#ifdef _WIN32
    (void)fn;
    return kSetupFailed;
#else
    return runinchild([&] {
        // open() returns the lowest free descriptor; a limit at that number leaves none free.
        const int probe = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        struct rlimit limit {};
        if (probe < 0 || ::close(probe) != 0 || ::getrlimit(RLIMIT_NOFILE, &limit) != 0) {
            return static_cast<int>(kSetupFailed);
        }
        limit.rlim_cur = static_cast<rlim_t>(probe);
        return ::setrlimit(RLIMIT_NOFILE, &limit) == 0 ? fn() : static_cast<int>(kSetupFailed);
    });
#endif
}

}  // namespace testutil
