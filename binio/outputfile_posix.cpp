// The POSIX output file, which appears whole under its name or not at all. The Linux calls that
// make it better there (O_TMPFILE and linkat, renameat2, sync_file_range, posix_fadvise) are each
// used where the system declares them; elsewhere a hidden file is linked to the name, and only
// where links are refused too is the name itself written and removed again on failure.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <utility>

#include "binio/binio.h"
#include "binio/fileio.h"
#include "binio/fileio_posix.h"
#include "binio/syscalls.h"

namespace binio {

namespace {

int retryopenat(int dir, const char* name, int flags, mode_t mode) {
    int fd;
    do {
        fd = systemcalls().openat(dir, name, flags, mode);
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
    return systemcalls().access("/proc/self/fd", X_OK) == 0 || ::geteuid() == 0;
}
#endif

// O_PATH: creating a file needs write and search permission on the folder, not read.
#ifdef O_PATH
constexpr int kFolderAccess = O_PATH;
#else
constexpr int kFolderAccess = O_RDONLY;
#endif

// Creates the file `name` in `dir` for writing: never one that exists, nor through a link.
int createnew(int dir, const char* name) {
    return retryopenat(dir, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
}

// Renames `from` to `to` in `dir` unless `to` exists.
int renamenoreplace(int dir, const char* from, const char* to) {
#ifdef RENAME_NOREPLACE
    return systemcalls().renameat2(dir, from, dir, to, RENAME_NOREPLACE);
#else
    errno = ENOSYS;
    return -1;
#endif
}

// Errors by which a file system says it cannot rename without replacing (NFS and SMB), or cannot
// link (FAT, many FUSE file systems), rather than that this one call failed.
bool cannotrename(int err) {
    return err == EINVAL || err == ENOSYS || err == EOPNOTSUPP;
}
bool cannotlink(int err) {
    return err == EPERM || err == ENOSYS || err == EOPNOTSUPP || err == EMLINK;
}

}  // namespace

OutputFile::OutputFile(const std::string& path, const Stop& stop,
                       [[maybe_unused]] bool allowunnamed)
    : path_(path), stop_(stop), name_(namepart(path)) {
    if (int code = existingcode(path_)) {
        throw IOError(code);
    }
    dir_ = std::make_shared<const Handle>(systemcalls().openat(
        AT_FDCWD, dirpart(path_).c_str(), kFolderAccess | O_DIRECTORY | O_CLOEXEC, 0));
    if (!*dir_) {
        fail(errno);
    }
    if (std::string folder = placeof(dir_->get()); !folder.empty()) {
        stop_.setplace(folder + (folder.back() == '/' ? "" : "/") + name_);
    }
#if defined(O_TMPFILE) && defined(AT_EMPTY_PATH)
    if (allowunnamed && canlinkunnamed()) {
        file_ = Handle(retryopenat(dir_->get(), ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666));
        if (file_) {
            unnamed_ = true;
            return;
        }
        if (!nounnamedfiles(errno)) {
            fail(errno);
        }
    }
#endif
    // A file with a name, hidden or not, outlives a process that ends before it is done with it:
    // its removal is kept.
    if (makehidden()) {
        unnamed_ = true;
        keepfile(temp_);
        return;
    }
    file_ = Handle(createnew(dir_->get(), name_.c_str()));
    if (!file_) {
        int err = errno;
        if (int code = existingcode(path_)) {
            throw IOError(code);
        }
        fail(err);
    }
    keepfile(name_);
}

void OutputFile::keepfile(const std::string& name) {
    stop_.keep([dir = dir_, name] { systemcalls().unlinkat(dir->get(), name.c_str(), 0); });
}

bool OutputFile::makehidden() {
    int attempt = 0;
    for (;; ++attempt) {
        temp_ = hiddenname(::getpid(), attempt);
        file_ = Handle(createnew(dir_->get(), temp_.c_str()));
        if (file_) {
            break;
        }
        if (errno != EEXIST || attempt == kHiddenAttempts) {
            const int err = errno;
            temp_.clear();
            fail(err);
        }
    }
    // The destructor does not run for a constructor that throws: the hidden name goes here.
    const auto giveup = [&](int err) {
        file_.close();
        systemcalls().unlinkat(dir_->get(), temp_.c_str(), 0);
        temp_.clear();
        if (err != 0) {
            fail(err);
        }
    };
    // The file system's ways of naming are tried on a second hidden name, so that the chosen
    // name is met only by the one step that names the file whole.
    for (++attempt; attempt <= kHiddenAttempts; ++attempt) {
        std::string probe = hiddenname(::getpid(), attempt);
        if (renamenoreplace(dir_->get(), temp_.c_str(), probe.c_str()) == 0) {
            temp_ = std::move(probe);
            renames_ = true;
            return true;
        }
        if (errno == EEXIST) {
            continue;
        }
        if (!cannotrename(errno)) {
            giveup(errno);
        }
        if (systemcalls().linkat(dir_->get(), temp_.c_str(), dir_->get(), probe.c_str(), 0) == 0) {
            systemcalls().unlinkat(dir_->get(), probe.c_str(), 0);
            return true;
        }
        if (errno == EEXIST) {
            continue;
        }
        if (!cannotlink(errno)) {
            giveup(errno);
        }
        giveup(0);
        return false;
    }
    giveup(EEXIST);
    return false;
}

OutputFile::~OutputFile() {
    if (!committed_) {
        file_.close();
        stop_.removefile();
    }
}

void OutputFile::fail(int err) {
    throwerrno(err, path_, Direction::writing);
}

void OutputFile::write(const std::uint8_t* data, std::size_t size) {
    const std::int64_t start = written_;
    while (size > 0) {
        throwifstopped(stop_);
        ssize_t n = systemcalls().write(file_.get(), data, size);
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
    int result =
        systemcalls().sync_file_range(file_.get(), start, written_ - start, SYNC_FILE_RANGE_WRITE);
    if (result == 0 && written_ - settled_ > kWriteBehind) {
        const std::int64_t end = written_ - kWriteBehind;
        result = systemcalls().sync_file_range(
            file_.get(), settled_, end - settled_,
            SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER);
        if (result == 0) {
#ifdef POSIX_FADV_DONTNEED
            systemcalls().posix_fadvise(file_.get(), settled_, end - settled_, POSIX_FADV_DONTNEED);
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

int OutputFile::givename() {
    const int dir = dir_->get();
    if (!temp_.empty()) {
        if (renames_ ? renamenoreplace(dir, temp_.c_str(), name_.c_str()) != 0
                     : systemcalls().linkat(dir, temp_.c_str(), dir, name_.c_str(), 0) != 0) {
            return errno;
        }
        // The file is whole under its name: should the hidden one outlive this unlink, it is a
        // second name of the saved file, nothing the save must undo.
        if (!renames_) {
            systemcalls().unlinkat(dir, temp_.c_str(), 0);
        }
        temp_.clear();
        return 0;
    }
#if defined(O_TMPFILE) && defined(AT_EMPTY_PATH)
    // Linking an unnamed file through /proc needs no privilege; AT_EMPTY_PATH is the way when
    // /proc is not mounted, for callers that hold CAP_DAC_READ_SEARCH.
    std::string self = "/proc/self/fd/" + std::to_string(file_.get());
    if (systemcalls().linkat(AT_FDCWD, self.c_str(), dir, name_.c_str(), AT_SYMLINK_FOLLOW) == 0) {
        return 0;
    }
    if (errno != ENOENT) {
        return errno;
    }
    return systemcalls().linkat(file_.get(), "", dir, name_.c_str(), AT_EMPTY_PATH) == 0 ? 0
                                                                                         : errno;
#else
    return 0;
#endif
}

void OutputFile::commit() {
    throwifstopped(stop_);
    if (systemcalls().fdatasync(file_.get()) != 0) {
        fail(errno);
    }
    // The save's point of no return: a stop requested up to here stops it, and its file never
    // gets its name; one that comes later is too late, and the file is named.
    if (!stop_.settle()) {
        throw Cancelled();
    }
    if (unnamed_) {
        if (int err = givename()) {
            if (err == EEXIST) {
                int code = existingcode(path_);
                throw IOError(code ? code : kFileExists);
            }
            fail(err);
        }
        // From here the name exists: a failure below must remove it again.
        unnamed_ = false;
    }
    // The file is whole under its name, which the steps below remove themselves should they fail.
    stop_.keep({});
    if (int err = file_.close()) {
        systemcalls().unlinkat(dir_->get(), name_.c_str(), 0);
        fail(err);
    }
    // Make the new name itself durable. A folder that cannot be opened for reading (write and
    // search permission only) or whose file system does not sync folders keeps the name as the
    // kernel has it.
    Handle folder(systemcalls().openat(dir_->get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0));
    if (folder && systemcalls().fsync(folder.get()) != 0 && errno != EINVAL && errno != EROFS) {
        int err = errno;
        systemcalls().unlinkat(dir_->get(), name_.c_str(), 0);
        fail(err);
    }
    committed_ = true;
}

}  // namespace binio
