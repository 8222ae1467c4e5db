// A worker's thread on Windows: a read or write of a disk file is not interrupted there, and a
// worker that waits is left to finish on its own.
#include "binio/worker.h"

namespace binio {

void Worker::prepareinterrupts() {}

void Worker::interruptthread(std::thread&) {}

void Worker::nameworker() {}

}  // namespace binio
