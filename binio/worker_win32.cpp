// A worker's thread on Windows: CancelSynchronousIo interrupts the read or write it waits in,
// which then fails with ERROR_OPERATION_ABORTED; on a thread that waits in none it does nothing.
#include <windows.h>

#include <memory>

#include "binio/fileio.h"
#include "binio/worker.h"

namespace binio {

// A handle of the thread's own, made by the thread itself: GetCurrentThread() stands for whichever
// thread uses it. It keeps the thread's object, so that it names no other thread once the thread
// has ended.
struct Worker::Self {
    Handle thread;
};

void Worker::prepareinterrupts() {}

std::shared_ptr<Worker::Self> Worker::makeself() {
    return std::make_shared<Self>();
}

void Worker::startthread(Self& self) {
    HANDLE thread = nullptr;
    if (::DuplicateHandle(::GetCurrentProcess(), ::GetCurrentThread(), ::GetCurrentProcess(),
                          &thread, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
        self.thread = Handle(thread);
    }
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
    if (self.thread) {
        ::CancelSynchronousIo(self.thread.get());
    }
}

}  // namespace binio
