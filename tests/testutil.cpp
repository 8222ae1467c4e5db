// The shared helpers of testutil.h that are not templates.
#include "tests/testutil.h"

#ifndef _WIN32
#include <grp.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#endif

#include <cerrno>
#include <chrono>
#include <fstream>
#include <stdexcept>

namespace testutil {

std::string tempfolder() {
    return std::filesystem::temp_directory_path().string();
}

TempDir::TempDir(const std::string& base) {
    namespace fs = std::filesystem;
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    for (int attempt = 0; path_.empty(); ++attempt) {
        const fs::path candidate =
            fs::path(base) / ("binio-test-" + std::to_string(stamp + attempt));
        if (fs::create_directory(candidate)) {
            path_ = candidate.string();
            fs::permissions(candidate, fs::perms(0755));
        }
    }
}

TempDir::~TempDir() {
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

void writefile(const Path& path, Content data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(data.data(), static_cast<std::streamsize>(data.size()));
    if (!out.flush()) {
        throw std::runtime_error("cannot write " + path);
    }
}

std::filesystem::path fspath(const std::string& path) {
    return std::u8string(path.begin(), path.end());
}

bool exists(const Path& path) {
    std::error_code ignored;
    return std::filesystem::exists(std::filesystem::symlink_status(fspath(path), ignored));
}

bool makesparse(const Path& path, std::int64_t size) {
    std::error_code error;
    writefile(path, Bytes{});
    std::filesystem::resize_file(fspath(path), static_cast<std::uintmax_t>(size), error);
    return !error;
}

std::string iomessage(int code) {
    for (const auto& [listed, text] : kIOMessages) {
        if (listed == code) {
            return std::string(text);
        }
    }
    return "<no message listed for code " + std::to_string(code) + ">";
}

const std::string kAccessDenied = iomessage(5);

int outcome(const std::function<void()>& fn) {
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
int runinchild(const std::function<int()>& fn) {
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

std::string basenc(const std::string& encoding, const Path& input) {
    const std::string command = "basenc --" + encoding + " -w0 '" + input + "'";
    return readall(::popen(command.c_str(), "r"), ::pclose, "<basenc failed: " + command + ">");
}

bool dropprivileges() {
    return ::setgroups(0, nullptr) == 0 && ::setgid(kNobody) == 0 && ::setuid(kNobody) == 0 &&
           ::geteuid() == kNobody;
}

int mountsmalldisk(const Path& folder, const char* size) {
    if (::unshare(CLONE_NEWNS) != 0 ||
        ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        ::mount("tmpfs", folder.c_str(), "tmpfs", 0, size) != 0) {
        return errno;
    }
    return 0;
}

int asnobody(const std::function<int()>& fn) {
    return runinchild([&] {
        return ::geteuid() != 0 || dropprivileges() ? fn() : static_cast<int>(kSetupFailed);
    });
}
#endif

const char* nofilelimit() {
#ifdef _WIN32
    return "Windows has no limit on open handles to lower";
#else
    return kSanitized ? "the sanitizer runtime cannot run under this limit" : nullptr;
#endif
}

int withoutfiles(const std::function<int()>& fn) {
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
