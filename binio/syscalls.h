// The file system calls binio makes, each through an entry of one table. A test replaces an entry
// for a while to make the call wait, fail or be counted, on every system alike, without taking
// over the system's own function (the way SQLite's os_unix.c lets each of its calls be replaced).
// Only binio's own calls go through the table: Qt's do not.
#pragma once

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstdio>  // renameat2() and RENAME_NOREPLACE, where the C library has them
#endif

#include <atomic>

namespace binio {

template <typename Function>
class SystemCall;

// One entry of the table, called as the function it holds. The function may be replaced while
// another thread calls through the entry (a load or save runs on a worker of its own), so it is
// held atomically.
template <typename Result, typename... Args>
class SystemCall<Result(Args...)> {
public:
    using Pointer = Result (*)(Args...);
    constexpr explicit SystemCall(Pointer call) : call_(call) {}
    SystemCall(const SystemCall&) = delete;
    SystemCall& operator=(const SystemCall&) = delete;

    Result operator()(Args... args) const { return call_.load()(args...); }
    // Puts `call` in the entry; returns the function it held.
    Pointer exchange(Pointer call) { return call_.exchange(call); }

private:
    std::atomic<Pointer> call_;
};

// The calls, each named as the system names it. A table made anew holds the system's own
// functions; the one binio calls through is systemcalls().
struct SystemCalls {
#ifdef _WIN32
    SystemCall<HANDLE(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE)>
        CreateFileW{::CreateFileW};
    SystemCall<BOOL(HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED)> ReadFile{::ReadFile};
    SystemCall<BOOL(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED)> WriteFile{::WriteFile};
    SystemCall<BOOL(HANDLE)> FlushFileBuffers{::FlushFileBuffers};
    SystemCall<BOOL(HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID, DWORD)> SetFileInformationByHandle{
        ::SetFileInformationByHandle};
    SystemCall<BOOL(LPCWSTR, LPCWSTR, DWORD)> MoveFileExW{::MoveFileExW};
    SystemCall<BOOL(LPCWSTR)> DeleteFileW{::DeleteFileW};
    SystemCall<DWORD(LPCWSTR)> GetFileAttributesW{::GetFileAttributesW};
    SystemCall<DWORD(HANDLE)> GetFileType{::GetFileType};
    SystemCall<BOOL(HANDLE, PLARGE_INTEGER)> GetFileSizeEx{::GetFileSizeEx};
    SystemCall<BOOL(HANDLE)> CloseHandle{::CloseHandle};
#else
    // open() is openat(AT_FDCWD, ...); the mode is passed whether or not the flags need one.
    SystemCall<int(int, const char*, int, mode_t)> openat{
        [](int dir, const char* path, int flags, mode_t mode) {
            return ::openat(dir, path, flags, mode);
        }};
    SystemCall<int(int)> close{::close};
    SystemCall<ssize_t(int, void*, size_t)> read{::read};
    SystemCall<ssize_t(int, const void*, size_t)> write{::write};
    SystemCall<int(const char*, struct stat*)> stat{::stat};
    SystemCall<int(const char*, struct stat*)> lstat{::lstat};
    SystemCall<int(int, struct stat*)> fstat{::fstat};
    SystemCall<int(const char*, struct statfs*)> statfs{::statfs};
    SystemCall<int(int, struct statfs*)> fstatfs{::fstatfs};
    // fcntl() with an int argument, as F_GETFL and F_SETFL take.
    SystemCall<int(int, int, int)> fcntl{
        [](int fd, int command, int argument) { return ::fcntl(fd, command, argument); }};
    SystemCall<ssize_t(const char*, char*, size_t)> readlink{::readlink};
    SystemCall<int(const char*, int)> access{::access};
    SystemCall<int(int, const char*, int, const char*, int)> linkat{::linkat};
#ifdef RENAME_NOREPLACE
    SystemCall<int(int, const char*, int, const char*, unsigned)> renameat2{::renameat2};
#endif
    SystemCall<int(int, const char*, int)> unlinkat{::unlinkat};
    SystemCall<int(int)> fsync{::fsync};
    // fdatasync() where the system has it, else fsync().
    SystemCall<int(int)> fdatasync{[](int fd) {
#if defined(_POSIX_SYNCHRONIZED_IO) && _POSIX_SYNCHRONIZED_IO > 0
        return ::fdatasync(fd);
#else
        return ::fsync(fd);
#endif
    }};
#ifdef SYNC_FILE_RANGE_WRITE
    SystemCall<int(int, off_t, off_t, unsigned)> sync_file_range{::sync_file_range};
#endif
#ifdef POSIX_FADV_DONTNEED
    SystemCall<int(int, off_t, off_t, int)> posix_fadvise{::posix_fadvise};
#endif
#endif
};

// The table binio calls through. The one piece of process-wide state in binio: the calls are the
// process's, and a replacement must reach the worker that runs a load or save as much as the
// thread that made it.
SystemCalls& systemcalls();

// Puts `call` in an entry of systemcalls() for as long as it lives, then the function the entry
// held before.
template <typename Function>
class Replaced {
public:
    using Pointer = typename SystemCall<Function>::Pointer;
    Replaced(SystemCall<Function> SystemCalls::*entry, Pointer call)
        : entry_(systemcalls().*entry), previous_(entry_.exchange(call)) {}
    Replaced(const Replaced&) = delete;
    Replaced& operator=(const Replaced&) = delete;
    ~Replaced() { entry_.exchange(previous_); }

private:
    SystemCall<Function>& entry_;
    Pointer previous_;
};

template <typename Function>
Replaced(SystemCall<Function> SystemCalls::*, typename SystemCall<Function>::Pointer)
    -> Replaced<Function>;

}  // namespace binio
