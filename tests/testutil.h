// Helpers shared by the binio tests (and, through windowtest.h, the widget tests): a scratch folder
// that removes itself, whole-file reads and writes, seeded random bytes, the error
// messages written out, GNU basenc's encodings, and a way to run a piece of code in a forked child
// (to drop privileges, lower limits or mount a small file system without touching the test
// process). The binio tests are also built for Windows, where the forked child and what it is for
// do not exist.
#pragma once

#ifndef _WIN32
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <random>
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

// The system's temporary folder, as std::filesystem names it ($TMPDIR, else /tmp, on Linux).
std::string tempfolder();

// A fresh folder, removed with everything in it at the end of the scope. It is made 0755 so that
// a child running as nobody can reach the files in it.
class TempDir {
public:
    // Under `base`, by default the temporary folder, named from the clock.
    explicit TempDir(const std::string& base = tempfolder());
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    // Everything in it is made writable first, which Windows needs to remove a read-only file and
    // Linux to empty a read-only folder (symbolic links are left alone, not what they point to).
    // On Windows the long form of the path (\\?\ before it) reaches folders past MAX_PATH.
    ~TempDir();

    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

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
void writefile(const Path& path, Content data);

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
std::filesystem::path fspath(const std::string& path);

// Whether the name exists, as a symbolic link that leads nowhere too.
bool exists(const Path& path);

// Makes a sparse file of `size` bytes; false when the file system refuses that size.
bool makesparse(const Path& path, std::int64_t size);

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
constexpr std::pair<int, std::string_view> kIOMessages[] = {
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

std::string iomessage(int code);

// The message of access denied, the end of many faults.
extern const std::string kAccessDenied;

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
int outcome(const std::function<void()>& fn);

#ifndef _WIN32
// Runs `fn` in a forked child and returns its exit status, or 300 + the signal that ended it.
// The child never returns into the test framework.
int runinchild(const std::function<int()>& fn);

// What GNU basenc makes of the file `input` with --`encoding` and no line breaks; "<basenc
// failed: COMMAND>" when it does not run to its end, which no encoding makes.
std::string basenc(const std::string& encoding, const Path& input);

constexpr uid_t kNobody = 65534;

// Becomes nobody for good; false if that fails.
bool dropprivileges();

// Mounts a small tmpfs on `folder`, seen by this process only; 0 or the errno.
int mountsmalldisk(const Path& folder, const char* size = "size=64k");

// Runs `fn` in a forked child as nobody, or as the user when that is not root (see runinchild);
// kSetupFailed when root cannot become nobody.
int asnobody(const std::function<int()>& fn);
#endif

// Why this test run cannot take the open files away, or nullptr: Windows has no limit on open
// handles to lower, and the sanitizer runtimes cannot run under it.
const char* nofilelimit();

// Runs `fn` in a forked child whose next open() fails with EMFILE and returns its result (see
// runinchild); kSetupFailed when the limit cannot be lowered. Only where nofilelimit() is null.
int withoutfiles(const std::function<int()>& fn);

}  // namespace testutil
