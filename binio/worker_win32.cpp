// A worker's thread on Windows: CancelSynchronousIo interrupts the read or write it waits in,
// which then fails with ERROR_OPERATION_ABORTED; on a thread that waits in none it does nothing.
#include <windows.h>

#include <pthread.h>

#include <memory>

#include "binio/worker.h"

namespace binio {

struct Worker::Self {
    pthread_t thread{};
};

void Worker::prepareinterrupts() {}

std::shared_ptr<Worker::Self> Worker::makeself() {
    return std::make_shared<Self>();
}

void Worker::startthread(Self& self) {
    self.thread = ::pthread_self();
    // SetThreadDescription came with Windows 10, version 1607: it is looked up, and an older
    // system shows the thread without a name.
    using Describe = HRESULT(WINAPI*)(HANDLE, PCWSTR);
    const HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
    const FARPROC found = kernel ? ::GetProcAddress(kernel, "SetThreadDescription") : nullptr;
    if (found) {
        // Through void (*)(), which GCC lets become any function pointer type without a warning.
        const auto describe = reinterpret_cast<Describe>(reinterpret_cast<void (*)()>(found));
        describe(::GetCurrentThread(), L"tessarin-file");
    }
}

void Worker::interruptthread(const Self& self) {
    // mingw-w64's std::thread runs on winpthreads, whose thread is a pthread_t. Beside it
    // winpthreads keeps the thread's own handle, open until the thread is joined or detached: the
    // Worker does either only once it interrupts no more, so the handle outlives every call here.
    if (HANDLE handle = ::pthread_gethandle(self.thread)) {
        ::CancelSynchronousIo(handle);
    }
}

}  // namespace binio
