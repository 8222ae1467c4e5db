// The POSIX back end of the file layer: descriptors, errno mapping, reading a regular file and the
// all-or-nothing output file. The Linux calls that make it better there (O_TMPFILE and linkat,
// sync_file_range, posix_fadvise, fstatfs, MADV_POPULATE_WRITE, MADV_DONTNEED) are each used where
// the system declares them; elsewhere the plain POSIX way does the same job.
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#if defined(__linux__)
#include <linux/magic.h>
#include <sys/vfs.h>
#endif

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <fstream>
#include <initializer_list>
#include <limits>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>

#include "binio/binio.h"
#include "binio/fileio.h"

namespace binio {

Handle::Handle(NativeHandle handle) : handle_(handle < 0 ? kNone : handle) {}

int Handle::close() {
    if (handle_ == kNone) {
        return 0;
    }
    // Linux releases the descriptor even when close() reports an error, so it is never retried.
    // EINTR from close() still released it and is no failure of the file.
    int result = ::close(release());
    return result == 0 || errno == EINTR ? 0 : errno;
}

namespace {

enum class Direction { reading, writing };

// The folder part and the name part of a path, as the output file needs them ("a/b" -> "a",
// "b"; "b" -> ".", "b"; "/b" -> "/", "b").
std::string dirpart(const std::string& path) {
    auto slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return ".";
    }
    auto end = path.find_last_not_of('/', slash);
    if (end == std::string::npos) {
        return "/";
    }
    return path.substr(0, end + 1);
}

std::string namepart(const std::string& path) {
    auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool isfolder(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Codes the program gives a meaning of its own; an unrelated errno of the same number would be
// read as that meaning, so it is moved out of the way.
bool isowncode(int code) {
    switch (code) {
        case kFileNotFound:
        case kPathNotFound:
        case kTooManyOpenFiles:
        case kAccessDenied:
        case kWriteFault:
        case kReadFault:
        case kFileExists:
        case kReadPastEnd:
        case kDiskFullShortWrite:
        case kDiskFull:
            return true;
        default:
            return false;
    }
}

constexpr int kMovedCodeOffset = 1000;

// The I/O error code for an errno met on `path`. ENOENT becomes 3 rather than 2 when a folder on
// the path is missing.
int errnotocode(int err, const std::string& path, Direction direction) {
    switch (err) {
        case ENOENT:
            return isfolder(dirpart(path)) ? kFileNotFound : kPathNotFound;
        case ENOTDIR:
        case ENAMETOOLONG:
            return kPathNotFound;
        case EMFILE:
        case ENFILE:
            return kTooManyOpenFiles;
        case EACCES:
        case EPERM:
        case EROFS:
        case EISDIR:
            return kAccessDenied;
        case ENOSPC:
        case EDQUOT:
            return kDiskFull;
        case EIO:
            return direction == Direction::reading ? kReadFault : kWriteFault;
        case EEXIST:
            return kFileExists;
        default:
            return isowncode(err) ? err + kMovedCodeOffset : err;
    }
}

[[noreturn]] void throwerrno(int err, const std::string& path, Direction direction) {
    throw IOError(errnotocode(err, path, direction));
}

// Whether a regular file's size tells how much it holds: not a size of 0, nor any size on the
// Linux file systems that make their files' content as they are read.
bool sizeknown([[maybe_unused]] int fd, const struct stat& st) {
    if (st.st_size == 0) {
        return false;
    }
#if defined(__linux__)
    constexpr unsigned long kConfigfsMagic = 0x62656570;  // not in <linux/magic.h>
    static constexpr std::array<unsigned long, 11> kMadeAsRead = {
        PROC_SUPER_MAGIC, SYSFS_MAGIC,      DEBUGFS_MAGIC,      TRACEFS_MAGIC,
        kConfigfsMagic,   SECURITYFS_MAGIC, CGROUP_SUPER_MAGIC, CGROUP2_SUPER_MAGIC,
        PSTOREFS_MAGIC,   EFIVARFS_MAGIC,   BPF_FS_MAGIC};
    struct statfs fs {};
    if (::fstatfs(fd, &fs) != 0) {
        return true;  // the size is all there is to go by
    }
    const auto type = static_cast<unsigned long>(fs.f_type);
    return std::find(kMadeAsRead.begin(), kMadeAsRead.end(), type) == kMadeAsRead.end();
#else
    return true;
#endif
}

}  // namespace

InputFile::InputFile(const std::string& path) : path_(path) {
    // Read only: a viewer must open what the user can read. Anything but a regular file is
    // refused before it is opened (a socket cannot be, a device may act on being opened), and
    // again after: O_NONBLOCK keeps a FIFO put there meanwhile from blocking the open.
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        throw IOError(kAccessDenied);
    }
    do {
        file_ = Handle(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    } while (!file_ && errno == EINTR);
    if (!file_) {
        throwerrno(errno, path, Direction::reading);
    }
    if (::fstat(file_.get(), &st) != 0) {
        throwerrno(errno, path, Direction::reading);
    }
    if (!S_ISREG(st.st_mode)) {
        throw IOError(kAccessDenied);
    }
    int flags = ::fcntl(file_.get(), F_GETFL);
    if (flags < 0 || ::fcntl(file_.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) {
        throwerrno(errno, path, Direction::reading);
    }
    size_ = st.st_size;
    sizeknown_ = binio::sizeknown(file_.get(), st);
}

std::size_t InputFile::read(std::uint8_t* data, std::size_t size) {
    for (;;) {
        ssize_t n = ::read(file_.get(), data, size);
        if (n >= 0) {
            return static_cast<std::size_t>(n);
        }
        if (errno != EINTR) {
            throwerrno(errno, path_, Direction::reading);
        }
        if (interrupted_) {
            interrupted_();
        }
    }
}

void InputFile::close() {
    if (int err = file_.close()) {
        throwerrno(err, path_, Direction::reading);
    }
}

int existingcode(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        return 0;
    }
    return S_ISDIR(st.st_mode) ? kAccessDenied : kFileExists;
}

bool makepages([[maybe_unused]] void* begin, [[maybe_unused]] std::size_t size) {
#ifdef MADV_POPULATE_WRITE
    // A kernel that cannot (before Linux 5.14) leaves every page to the caller.
    return ::madvise(begin, size, MADV_POPULATE_WRITE) == 0;
#else
    return false;
#endif
}

bool canreserve(const std::string& root) {
    if constexpr (sizeof(void*) < 8) {
        return false;
    }
    for (const int resource : {RLIMIT_AS, RLIMIT_DATA}) {
        struct rlimit limit {};
        if (::getrlimit(resource, &limit) != 0 || limit.rlim_cur != RLIM_INFINITY) {
            return false;
        }
    }
    std::ifstream in(root.substr(0, root.find_last_not_of('/') + 1) +
                     "/proc/sys/vm/overcommit_memory");
    int mode = 0;
    return !(in >> mode) || mode != 2;
}

void givepages(void* begin, std::size_t size) {
    const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
    const auto at = reinterpret_cast<std::uintptr_t>(begin);
    const std::uintptr_t first = (at + page - 1) / page * page;
    const std::uintptr_t last = (at + size) / page * page;
#ifdef MADV_DONTNEED
    if (first < last) {
        // Nothing is lost when the system declines: the pages are only kept.
        ::madvise(reinterpret_cast<void*>(first), last - first, MADV_DONTNEED);
    }
#endif
}

namespace {

// The first word of a file as a number: "max" is no limit (kMemoryUnknown); nothing when the
// file is not there or does not start with a number.
std::optional<std::uint64_t> readfigure(const std::string& path) {
    std::ifstream in(path);
    std::string word;
    if (!(in >> word)) {
        return std::nullopt;
    }
    if (word == "max") {
        return kMemoryUnknown;
    }
    std::uint64_t value = 0;
    const char* end = word.data() + word.size();
    const auto [stop, error] = std::from_chars(word.data(), end, value);
    if (error != std::errc() || stop != end) {
        return std::nullopt;
    }
    return value;
}

// The sum of the numbers after `keys` in a file of "key number" lines, as memory.stat and
// /proc/meminfo are ("SwapFree:  12 kB" counts 12); nothing when none of the keys is there.
std::optional<std::uint64_t> sumkeys(const std::string& path,
                                     std::initializer_list<std::string_view> keys) {
    std::ifstream in(path);
    std::optional<std::uint64_t> sum;
    std::string name;
    std::uint64_t value = 0;
    while (in >> name >> value) {
        if (std::find(keys.begin(), keys.end(), name) != keys.end()) {
            sum = sum.value_or(0) + value;
        }
        in.ignore(std::numeric_limits<std::streamsize>::max(), '\n');
    }
    return sum;
}

std::uint64_t less(std::uint64_t value, std::uint64_t taken) {
    return value > taken ? value - taken : 0;
}

// The names of a memory cgroup's figures: the limit and what it has used, the page cache among
// that, and its swap limit and use (cgroup v1 has those as one figure with memory, not read).
struct CgroupFiles {
    const char* limit;
    const char* usage;
    std::initializer_list<std::string_view> cache;
    const char* swaplimit;
    const char* swapusage;
};

const CgroupFiles kCgroupV2 = {"memory.max",
                               "memory.current",
                               {"active_file", "inactive_file"},
                               "memory.swap.max",
                               "memory.swap.current"};
const CgroupFiles kCgroupV1 = {"memory.limit_in_bytes",
                               "memory.usage_in_bytes",
                               {"total_active_file", "total_inactive_file"},
                               nullptr,
                               nullptr};

// The least room left in the cgroup at `path` and each cgroup above it, of a hierarchy whose
// folder `mountroot` is mounted at `point`. A level without a limit does not count.
std::uint64_t cgroupavailable(const std::string& point, const std::string& mountroot,
                              std::string path, const CgroupFiles& files, std::uint64_t swapfree) {
    if (mountroot != "/") {
        // Only the cgroups under the mounted folder can be read.
        if (path.compare(0, mountroot.size(), mountroot) != 0 ||
            (path.size() > mountroot.size() && path[mountroot.size()] != '/')) {
            return kMemoryUnknown;
        }
        path.erase(0, mountroot.size());
    }
    std::uint64_t least = kMemoryUnknown;
    for (;;) {
        path.erase(path.find_last_not_of('/') + 1);
        const std::string folder = point + path + "/";
        const auto limit = readfigure(folder + files.limit);
        const auto usage = readfigure(folder + files.usage);
        if (limit && usage && *limit != kMemoryUnknown) {
            std::uint64_t room =
                less(*limit, *usage) + sumkeys(folder + "memory.stat", files.cache).value_or(0);
            if (files.swaplimit != nullptr) {
                const auto swaplimit = readfigure(folder + files.swaplimit);
                const auto swapusage = readfigure(folder + files.swapusage);
                if (swaplimit && swapusage) {
                    room += std::min(less(*swaplimit, *swapusage), swapfree);
                }
            }
            least = std::min(least, room);
        }
        if (path.empty()) {
            return least;
        }
        const auto slash = path.find_last_of('/');
        path.erase(slash == std::string::npos ? 0 : slash);
    }
}

}  // namespace

std::uint64_t memoryavailable(const std::string& root) {
    const std::string base = root.substr(0, root.find_last_not_of('/') + 1);
    const std::string meminfo = base + "/proc/meminfo";
    const std::uint64_t swapfree = sumkeys(meminfo, {"SwapFree:"}).value_or(0) * 1024;
    const auto system = sumkeys(meminfo, {"MemAvailable:", "SwapFree:"});
    std::uint64_t available = system ? *system * 1024 : kMemoryUnknown;

    // The process's cgroup in the unified hierarchy ("0::/path") and in v1's memory hierarchy
    // ("4:memory:/path").
    std::optional<std::string> unified;
    std::optional<std::string> memory;
    std::ifstream groups(base + "/proc/self/cgroup");
    for (std::string line; std::getline(groups, line);) {
        const auto first = line.find(':');
        const auto second = line.find(':', first == std::string::npos ? first : first + 1);
        if (second == std::string::npos) {
            continue;
        }
        const std::string controllers = "," + line.substr(first + 1, second - first - 1) + ",";
        if (controllers == ",,") {
            unified = line.substr(second + 1);
        } else if (controllers.find(",memory,") != std::string::npos) {
            memory = line.substr(second + 1);
        }
    }
    // Where those hierarchies are mounted: "id parent device root point options... - type
    // source superoptions".
    std::ifstream mounts(base + "/proc/self/mountinfo");
    for (std::string line; std::getline(mounts, line);) {
        std::istringstream fields(line);
        std::string word, mountroot, point, type, source, options;
        fields >> word >> word >> word >> mountroot >> point;
        while (fields >> word && word != "-") {
        }
        fields >> type >> source >> options;
        if (type == "cgroup2" && unified) {
            available = std::min(
                available, cgroupavailable(base + point, mountroot, *unified, kCgroupV2, swapfree));
        } else if (type == "cgroup" && memory &&
                   ("," + options + ",").find(",memory,") != std::string::npos) {
            available = std::min(
                available, cgroupavailable(base + point, mountroot, *memory, kCgroupV1, swapfree));
        }
    }
    return available;
}

namespace {

int retryopenat(int dir, const char* name, int flags, mode_t mode) {
    int fd;
    do {
        fd = ::openat(dir, name, flags, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

#if defined(O_TMPFILE) && defined(AT_EMPTY_PATH)
// Errors by which open(O_TMPFILE) says the file system cannot make unnamed files.
bool nounnamedfiles(int err) {
    return err == EOPNOTSUPP || err == EISDIR || err == EINVAL;
}

// Whether an unnamed file can be given a name later: through /proc, or by its descriptor, which
// older kernels allow only with CAP_DAC_READ_SEARCH (root, near enough).
bool canlinkunnamed() {
    return ::access("/proc/self/fd", X_OK) == 0 || ::geteuid() == 0;
}
#endif

// O_PATH: creating a file needs write and search permission on the folder, not read.
#ifdef O_PATH
constexpr int kFolderAccess = O_PATH;
#else
constexpr int kFolderAccess = O_RDONLY;
#endif

// Flushes the file's bytes, and what is needed to read them back, to the disk.
int flushdata(int fd) {
#if defined(_POSIX_SYNCHRONIZED_IO) && _POSIX_SYNCHRONIZED_IO > 0
    return ::fdatasync(fd);
#else
    return ::fsync(fd);
#endif
}

}  // namespace

OutputFile::OutputFile(const std::string& path, [[maybe_unused]] bool allowunnamed)
    : path_(path), name_(namepart(path)) {
    if (int code = existingcode(path_)) {
        throw IOError(code);
    }
    dir_ = Handle(::open(dirpart(path_).c_str(), kFolderAccess | O_DIRECTORY | O_CLOEXEC));
    if (!dir_) {
        fail(errno);
    }
#if defined(O_TMPFILE) && defined(AT_EMPTY_PATH)
    if (allowunnamed && canlinkunnamed()) {
        file_ = Handle(retryopenat(dir_.get(), ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666));
        if (file_) {
            unnamed_ = true;
            return;
        }
        if (!nounnamedfiles(errno)) {
            fail(errno);
        }
    }
#endif
    file_ = Handle(retryopenat(dir_.get(), name_.c_str(),
                               O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
    if (!file_) {
        int err = errno;
        if (int code = existingcode(path_)) {
            throw IOError(code);
        }
        fail(err);
    }
}

OutputFile::~OutputFile() {
    if (!committed_ && !unnamed_ && file_) {
        file_.close();
        ::unlinkat(dir_.get(), name_.c_str(), 0);
    }
}

void OutputFile::fail(int err) {
    throwerrno(err, path_, Direction::writing);
}

void OutputFile::write(const std::uint8_t* data, std::size_t size) {
    const std::int64_t start = written_;
    while (size > 0) {
        ssize_t n = ::write(file_.get(), data, size);
        if (n < 0) {
            if (errno == EINTR) {
                if (interrupted_) {
                    interrupted_();
                }
                continue;
            }
            fail(errno);
        }
        if (n == 0) {
            throw IOError(kDiskFullShortWrite);
        }
        data += n;
        size -= static_cast<std::size_t>(n);
        written_ += n;
    }
    if (written_ > start) {
        writebehind(start);
    }
}

#ifdef SYNC_FILE_RANGE_WRITE
namespace {

// How far the bytes on their way to the disk may trail the bytes written.
constexpr std::int64_t kWriteBehind = std::int64_t{16} << 20;

// Errors by which sync_file_range() says it cannot help with this file, rather than that the
// bytes did not reach the disk.
bool nowritebehind(int err) {
    return err == EINVAL || err == ESPIPE || err == ENOSYS;
}

}  // namespace

void OutputFile::writebehind(std::int64_t start) {
    // Left to itself, a large save piles up as much dirty page cache as it writes, in fresh
    // memory, and commit() waits for all of it at once. Instead the disk gets each block as soon
    // as it is written, and the bytes more than kWriteBehind back are waited for and dropped
    // from the cache: the save runs at the disk's speed through a small window of memory that
    // is used again and again. Waiting consumes the error a failed write to the disk leaves for
    // the flush, so a failure met here fails the save at once.
    int result = ::sync_file_range(file_.get(), start, written_ - start, SYNC_FILE_RANGE_WRITE);
    if (result == 0 && written_ - settled_ > kWriteBehind) {
        const std::int64_t end = written_ - kWriteBehind;
        result = ::sync_file_range(
            file_.get(), settled_, end - settled_,
            SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER);
        if (result == 0) {
#ifdef POSIX_FADV_DONTNEED
            ::posix_fadvise(file_.get(), settled_, end - settled_, POSIX_FADV_DONTNEED);
#endif
            settled_ = end;
        }
    }
    if (result != 0 && !nowritebehind(errno)) {
        fail(errno);
    }
}
#else
// Without sync_file_range() the bytes wait in the page cache for commit()'s flush.
void OutputFile::writebehind(std::int64_t) {}
#endif

void OutputFile::commit() {
    if (flushdata(file_.get()) != 0) {
        fail(errno);
    }
#if defined(O_TMPFILE) && defined(AT_EMPTY_PATH)
    if (unnamed_) {
        // Linking an unnamed file through /proc needs no privilege; AT_EMPTY_PATH is the way when
        // /proc is not mounted, for callers that hold CAP_DAC_READ_SEARCH.
        std::string self = "/proc/self/fd/" + std::to_string(file_.get());
        if (::linkat(AT_FDCWD, self.c_str(), dir_.get(), name_.c_str(), AT_SYMLINK_FOLLOW) != 0) {
            int err = errno;
            if (err == ENOENT) {
                err = ::linkat(file_.get(), "", dir_.get(), name_.c_str(), AT_EMPTY_PATH) == 0
                          ? 0
                          : errno;
            }
            if (err == EEXIST) {
                int code = existingcode(path_);
                throw IOError(code ? code : kFileExists);
            }
            if (err != 0) {
                fail(err);
            }
        }
        // From here the name exists: a failure below must remove it again.
        unnamed_ = false;
    }
#endif
    if (int err = file_.close()) {
        ::unlinkat(dir_.get(), name_.c_str(), 0);
        fail(err);
    }
    // Make the new name itself durable. A folder that cannot be opened for reading (write and
    // search permission only) or whose file system does not sync folders keeps the name as the
    // kernel has it.
    Handle folder(::openat(dir_.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder && ::fsync(folder.get()) != 0 && errno != EINVAL && errno != EROFS) {
        int err = errno;
        ::unlinkat(dir_.get(), name_.c_str(), 0);
        fail(err);
    }
    committed_ = true;
}

namespace {

// The signal that interrupts a worker: one that does nothing where it has no handler, and that
// Qt and the C library leave alone.
constexpr int kInterruptSignal = SIGURG;

void oninterrupt(int) {}

}  // namespace

void prepareinterrupts() {
    struct sigaction action {};
    action.sa_handler = oninterrupt;
    sigemptyset(&action.sa_mask);
    // Without SA_RESTART: a read or write that the signal interrupts fails with EINTR instead of
    // waiting again.
    action.sa_flags = 0;
    ::sigaction(kInterruptSignal, &action, nullptr);
}

void interruptthread(std::thread& thread) {
    ::pthread_kill(thread.native_handle(), kInterruptSignal);
}

void nameworker() {
#if defined(__linux__)
    ::pthread_setname_np(::pthread_self(), "tessarin-file");
#endif
}

}  // namespace binio
