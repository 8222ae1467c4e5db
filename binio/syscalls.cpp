// The table of the file system calls binio makes.
#include "binio/syscalls.h"

namespace binio {

SystemCalls& systemcalls() {
    static SystemCalls calls;
    return calls;
}

}  // namespace binio
