// File descriptors, errno mapping and the all-or-nothing output file.
#include "binio/fileio.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <string>

#include "binio/binio.h"

namespace binio {

Fd& Fd::operator=(Fd&& other) noexcept {
    if (this != &other) {
        close();
        fd_ = other.release();
    }
    return *this;
}

Fd::~Fd() {
    close();
}

int Fd::release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
}

int Fd::close() {
    if (fd_ < 0) {
        return 0;
    }
    // Linux releases the descriptor even when close() reports an error, so it is never retried.
    // EINTR from close() still released it and is no failure of the file.
    int result = ::close(release());
    return result == 0 || errno == EINTR ? 0 : errno;
}

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

namespace {

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

}  // namespace

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

void throwerrno(int err, const std::string& path, Direction direction) {
    throw IOError(errnotocode(err, path, direction));
}

int existingcode(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        return 0;
    }
    return S_ISDIR(st.st_mode) ? kAccessDenied : kFileExists;
}

namespace {

int retryopenat(int dir, const char* name, int flags, mode_t mode) {
    int fd;
    do {
        fd = ::openat(dir, name, flags, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// Errors by which open(O_TMPFILE) says the file system cannot make unnamed files.
bool nounnamedfiles(int err) {
    return err == EOPNOTSUPP || err == EISDIR || err == EINVAL;
}

// Whether an unnamed file can be given a name later: through /proc, or by its descriptor, which
// older kernels allow only with CAP_DAC_READ_SEARCH (root, near enough).
bool canlinkunnamed() {
    return ::access("/proc/self/fd", X_OK) == 0 || ::geteuid() == 0;
}

}  // namespace

OutputFile::OutputFile(const std::string& path, bool allowunnamed)
    : path_(path), name_(namepart(path)) {
    if (int code = existingcode(path_)) {
        throw IOError(code);
    }
    // O_PATH: creating a file needs write and search permission on the folder, not read.
    dir_ = Fd(::open(dirpart(path_).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!dir_) {
        fail(errno);
    }
    if (allowunnamed && canlinkunnamed()) {
        file_ = Fd(retryopenat(dir_.get(), ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666));
        if (file_) {
            unnamed_ = true;
            return;
        }
        if (!nounnamedfiles(errno)) {
            fail(errno);
        }
    }
    file_ = Fd(retryopenat(dir_.get(), name_.c_str(),
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
    const off_t start = written_;
    while (size > 0) {
        ssize_t n = ::write(file_.get(), data, size);
        if (n < 0) {
            if (errno == EINTR) {
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

namespace {

// How far the bytes on their way to the disk may trail the bytes written.
constexpr off_t kWriteBehind = off_t{16} << 20;

// Errors by which sync_file_range() says it cannot help with this file, rather than that the
// bytes did not reach the disk.
bool nowritebehind(int err) {
    return err == EINVAL || err == ESPIPE || err == ENOSYS;
}

}  // namespace

void OutputFile::writebehind(off_t start) {
    // Left to itself, a large save piles up as much dirty page cache as it writes, in fresh
    // memory, and commit() waits for all of it at once. Instead the disk gets each block as soon
    // as it is written, and the bytes more than kWriteBehind back are waited for and dropped
    // from the cache: the save runs at the disk's speed through a small window of memory that
    // is used again and again. Waiting consumes the error a failed write to the disk leaves for
    // the flush, so a failure met here fails the save at once.
    int result = ::sync_file_range(file_.get(), start, written_ - start, SYNC_FILE_RANGE_WRITE);
    if (result == 0 && written_ - settled_ > kWriteBehind) {
        const off_t end = written_ - kWriteBehind;
        result = ::sync_file_range(
            file_.get(), settled_, end - settled_,
            SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER);
        if (result == 0) {
            ::posix_fadvise(file_.get(), settled_, end - settled_, POSIX_FADV_DONTNEED);
            settled_ = end;
        }
    }
    if (result != 0 && !nowritebehind(errno)) {
        fail(errno);
    }
}

void OutputFile::commit() {
    if (::fdatasync(file_.get()) != 0) {
        fail(errno);
    }
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
    if (int err = file_.close()) {
        ::unlinkat(dir_.get(), name_.c_str(), 0);
        fail(err);
    }
    // Make the new name itself durable. A folder that cannot be opened for reading (write and
    // search permission only) or whose file system does not sync folders keeps the name as the
    // kernel has it.
    Fd folder(::openat(dir_.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder && ::fsync(folder.get()) != 0 && errno != EINVAL && errno != EROFS) {
        int err = errno;
        ::unlinkat(dir_.get(), name_.c_str(), 0);
        fail(err);
    }
    committed_ = true;
}

}  // namespace binio
