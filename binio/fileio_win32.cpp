// The Windows back end of the file layer: handles, the system's error codes, reading a disk file
// and the all-or-nothing output file. Paths arrive as UTF-8 and go to the wide-character API as
// full paths in the \\?\ form, which has no MAX_PATH limit.
#include <windows.h>

#include <algorithm>
#include <string>
#include <utility>

#include "binio/binio.h"
#include "binio/fileio.h"
#include "binio/syscalls.h"

namespace binio {

Handle::Handle(NativeHandle handle) : handle_(handle == INVALID_HANDLE_VALUE ? kNone : handle) {}

int Handle::close() {
    if (handle_ == kNone) {
        return 0;
    }
    return systemcalls().CloseHandle(release()) ? 0 : static_cast<int>(::GetLastError());
}

namespace {

// The codes are the system's own, as the window's messages read them; only the two numbers
// that the program uses for errors of its own are moved out of the way.
int errorcode(DWORD err) {
    constexpr int kMovedCodeOffset = 1000;
    const int code = static_cast<int>(err);
    if (code == kReadPastEnd || code == kDiskFullShortWrite) {
        return code + kMovedCodeOffset;
    }
    return code;
}

[[noreturn]] void throwerror(DWORD err) {
    throw IOError(errorcode(err));
}

// The wide-character form of a UTF-8 path; a name that is not UTF-8 is an invalid name (3).
std::wstring widen(const std::string& text) {
    if (text.empty()) {
        return {};
    }
    const int size = static_cast<int>(text.size());
    const int n =
        ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
    if (n <= 0) {
        throw IOError(kPathNotFound);
    }
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, wide.data(), n);
    return wide;
}

bool startswith(const std::wstring& text, const std::wstring& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

// The full path of `path` in the \\?\ form that the wide API takes at any length. Relative
// paths are resolved against the working folder and "/" becomes "\" first, since the \\?\ form
// takes every character literally. Device paths (\\.\NUL, \\.\pipe\...) stay as they are.
std::wstring fullpath(const std::string& path) {
    const std::wstring wide = widen(path);
    if (wide.empty() || wide.find(L'\0') != std::wstring::npos) {
        throw IOError(kPathNotFound);
    }
    std::wstring full(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n =
            ::GetFullPathNameW(wide.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
        if (n == 0) {
            throwerror(::GetLastError());
        }
        if (n < full.size()) {
            full.resize(n);
            break;
        }
        full.resize(n);  // n counts the terminating zero when the buffer was too small
    }
    if (startswith(full, L"\\\\?\\") || startswith(full, L"\\\\.\\")) {
        return full;
    }
    if (startswith(full, L"\\\\")) {
        return L"\\\\?\\UNC\\" + full.substr(2);
    }
    return L"\\\\?\\" + full;
}

// existingcode() for a full path: the attributes of the name itself, a link not followed.
int existingcode(const std::wstring& full) {
    const DWORD attributes = systemcalls().GetFileAttributesW(full.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return 0;
    }
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? kAccessDenied : kFileExists;
}

// ReadFile and WriteFile move at most this much per call, well inside a DWORD.
constexpr std::size_t kLargestCall = std::size_t{1} << 30;

// Whether a call that failed with `err` is to be made again: when a Worker's interruption cut it
// short (see Worker::interrupt) and no stop was requested. Throws Cancelled when one was. Besides
// a read or write, the interruption cuts short an open or a flush that waits (on a network share
// that stopped answering, say).
bool interrupted(DWORD err, const Stop& stop) {
    if (err != ERROR_OPERATION_ABORTED) {
        return false;
    }
    throwifstopped(stop);
    return true;
}

}  // namespace

InputFile::InputFile(const std::string& path, const Stop& stop) : path_(path), stop_(stop) {
    const std::wstring full = fullpath(path);
    // A folder cannot be read as a file, however it would be opened.
    const DWORD attributes = systemcalls().GetFileAttributesW(full.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        throw IOError(kAccessDenied);
    }
    // Read only, and sharing reading and writing, so that a file another program has open can be
    // looked at.
    while (!(file_ = Handle(systemcalls().CreateFileW(
                 full.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                 OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr)))) {
        const DWORD err = ::GetLastError();
        if (!interrupted(err, stop_)) {
            throwerror(err);
        }
    }
    // A pipe, a console or a device would make a read wait or act on it: only disk files load.
    if (systemcalls().GetFileType(file_.get()) != FILE_TYPE_DISK) {
        throw IOError(kAccessDenied);
    }
    LARGE_INTEGER size{};
    if (!systemcalls().GetFileSizeEx(file_.get(), &size)) {
        throwerror(::GetLastError());
    }
    size_ = size.QuadPart;
    sizeknown_ = size_ != 0;
}

std::size_t InputFile::read(std::uint8_t* data, std::size_t size) {
    for (;;) {
        throwifstopped(stop_);
        DWORD n = 0;
        if (systemcalls().ReadFile(file_.get(), data,
                                   static_cast<DWORD>(std::min(size, kLargestCall)), &n, nullptr)) {
            return n;
        }
        const DWORD err = ::GetLastError();
        if (err == ERROR_HANDLE_EOF) {
            return 0;
        }
        if (!interrupted(err, stop_)) {
            throwerror(err);
        }
    }
}

void InputFile::close() {
    if (int err = file_.close()) {
        throwerror(static_cast<DWORD>(err));
    }
}

int existingcode(const std::string& path) {
    return existingcode(fullpath(path));
}

void askfilesystem(const std::string& path) {
    (void)systemcalls().GetFileAttributesW(widen(path).c_str());
}

OutputFile::OutputFile(const std::string& path, const Stop& stop, bool)
    : path_(path), stop_(stop), target_(fullpath(path)) {
    if (int code = existingcode(target_)) {
        throw IOError(code);
    }
    // The new file goes into the target's folder, so that the move that names it stays on one
    // volume and is one step. Its name starts with a dot and it is hidden: a file a save is
    // writing is nothing the user should see or open. The name is made new with CREATE_NEW; a
    // leftover of an earlier run under the same number is stepped over. Others may only delete
    // it, as the window does at its end for a save it gave up on while the save still has it
    // open: the system removes it then as the program's handles close.
    const std::wstring folder = target_.substr(0, target_.find_last_of(L'\\') + 1);
    for (int attempt = 0;; ++attempt) {
        std::wstring temp = folder + widen(hiddenname(::GetCurrentProcessId(), attempt));
        file_ =
            Handle(systemcalls().CreateFileW(temp.c_str(), GENERIC_WRITE, FILE_SHARE_DELETE,
                                             nullptr, CREATE_NEW, FILE_ATTRIBUTE_HIDDEN, nullptr));
        if (file_) {
            temp_ = std::move(temp);
            break;
        }
        const DWORD err = ::GetLastError();
        if (interrupted(err, stop_)) {
            continue;
        }
        if ((err != ERROR_FILE_EXISTS && err != ERROR_ALREADY_EXISTS) ||
            attempt == kHiddenAttempts) {
            fail(static_cast<int>(err));
        }
    }
    unnamed_ = true;
    stop_.keep([temp = temp_] { systemcalls().DeleteFileW(temp.c_str()); });
}

OutputFile::~OutputFile() {
    if (!committed_) {
        file_.close();
        stop_.removefile();
    }
}

void OutputFile::fail(int err) {
    throwerror(static_cast<DWORD>(err));
}

void OutputFile::write(const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        throwifstopped(stop_);
        DWORD n = 0;
        if (!systemcalls().WriteFile(
                file_.get(), data, static_cast<DWORD>(std::min(size, kLargestCall)), &n, nullptr)) {
            const DWORD err = ::GetLastError();
            if (interrupted(err, stop_)) {
                continue;
            }
            fail(static_cast<int>(err));
        }
        if (n == 0) {
            throw IOError(kDiskFullShortWrite);
        }
        data += n;
        size -= n;
    }
}

void OutputFile::commit() {
    throwifstopped(stop_);
    // The finished file is an ordinary one: it stops being hidden before it is flushed, so that
    // the flush takes that along.
    FILE_BASIC_INFO info{};
    info.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    if (!systemcalls().SetFileInformationByHandle(file_.get(), FileBasicInfo, &info, sizeof info)) {
        fail(static_cast<int>(::GetLastError()));
    }
    while (!systemcalls().FlushFileBuffers(file_.get())) {
        const DWORD err = ::GetLastError();
        if (!interrupted(err, stop_)) {
            fail(static_cast<int>(err));
        }
    }
    if (int err = file_.close()) {
        fail(err);
    }
    // The save's point of no return: a stop requested up to here stops it, and its file never
    // gets its name; one that comes later is too late, and the file is named.
    if (!stop_.settle()) {
        throw Cancelled();
    }
    // Without MOVEFILE_REPLACE_EXISTING the move refuses a name that appeared meanwhile, and
    // MOVEFILE_WRITE_THROUGH returns only once the new name is on the disk.
    if (!systemcalls().MoveFileExW(temp_.c_str(), target_.c_str(), MOVEFILE_WRITE_THROUGH)) {
        const DWORD err = ::GetLastError();
        if (err == ERROR_ALREADY_EXISTS || err == ERROR_FILE_EXISTS) {
            const int code = existingcode(target_);
            throw IOError(code ? code : kFileExists);
        }
        fail(static_cast<int>(err));
    }
    stop_.keep({});
    committed_ = true;
    unnamed_ = false;
}

}  // namespace binio
