// The POSIX file layer: descriptors, the I/O error of an errno, and reading a regular file. The
// Linux calls that make it better there (fstatfs) are used where the system declares them.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#if defined(__linux__)
#include <linux/magic.h>
#include <sys/vfs.h>
#endif

#include <algorithm>
#include <array>
#include <cerrno>
#include <string>
#include <utility>

#include "binio/binio.h"
#include "binio/fileio.h"
#include "binio/fileio_posix.h"
#include "binio/syscalls.h"

namespace binio {

Handle::Handle(NativeHandle handle) : handle_(handle < 0 ? kNone : handle) {}

int Handle::close() {
    if (handle_ == kNone) {
        return 0;
    }
    // Linux releases the descriptor even when close() reports an error, so it is never retried.
    // EINTR from close() still released it and is no failure of the file.
    int result = systemcalls().close(release());
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
    return systemcalls().stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
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

}  // namespace

std::string placeof([[maybe_unused]] int fd) {
#if defined(__linux__)
    std::array<char, 4096> place{};
    const std::string link = "/proc/self/fd/" + std::to_string(fd);
    const ssize_t n = systemcalls().readlink(link.c_str(), place.data(), place.size());
    if (n > 0 && std::size_t(n) < place.size() && place[0] == '/') {
        return std::string(place.data(), std::size_t(n));
    }
#endif
    return {};
}

void throwerrno(int err, const std::string& path, Direction direction) {
    throw IOError(errnotocode(err, path, direction));
}

namespace {

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
    if (systemcalls().fstatfs(fd, &fs) != 0) {
        return true;  // the size is all there is to go by
    }
    const auto type = static_cast<unsigned long>(fs.f_type);
    return std::find(kMadeAsRead.begin(), kMadeAsRead.end(), type) == kMadeAsRead.end();
#else
    return true;
#endif
}

}  // namespace

InputFile::InputFile(const std::string& path, const Stop& stop) : path_(path), stop_(stop) {
    // Read only: a viewer must open what the user can read. Anything but a regular file is
    // refused before it is opened (a socket cannot be, a device may act on being opened), and
    // again after: O_NONBLOCK keeps a FIFO put there meanwhile from blocking the open.
    struct stat st {};
    if (systemcalls().stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        throw IOError(kAccessDenied);
    }
    do {
        file_ = Handle(systemcalls().openat(AT_FDCWD, path.c_str(),
                                            O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0));
    } while (!file_ && errno == EINTR);
    if (!file_) {
        throwerrno(errno, path, Direction::reading);
    }
    if (systemcalls().fstat(file_.get(), &st) != 0) {
        throwerrno(errno, path, Direction::reading);
    }
    if (!S_ISREG(st.st_mode)) {
        throw IOError(kAccessDenied);
    }
    int flags = systemcalls().fcntl(file_.get(), F_GETFL, 0);
    if (flags < 0 || systemcalls().fcntl(file_.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) {
        throwerrno(errno, path, Direction::reading);
    }
    stop_.setplace(placeof(file_.get()));
    size_ = st.st_size;
    sizeknown_ = binio::sizeknown(file_.get(), st);
}

std::size_t InputFile::read(std::uint8_t* data, std::size_t size) {
    for (;;) {
        throwifstopped(stop_);
        ssize_t n = systemcalls().read(file_.get(), data, size);
        if (n >= 0) {
            return static_cast<std::size_t>(n);
        }
        if (errno != EINTR) {
            throwerrno(errno, path_, Direction::reading);
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
    if (systemcalls().lstat(path.c_str(), &st) != 0) {
        return 0;
    }
    return S_ISDIR(st.st_mode) ? kAccessDenied : kFileExists;
}

void askfilesystem(const std::string& path) {
    struct statfs fs {};
    (void)systemcalls().statfs(path.c_str(), &fs);
}

}  // namespace binio
