// What a load asks of the system's memory: how much is left before the system, or a limit set on
// the process, runs out; whether room can be taken as address space that costs nothing until it
// is written; and the making and giving back of memory pages. memory_linux.cpp and
// memory_win32.cpp each give one system's way, and CMake builds the one that fits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>

namespace binio {

// What memoryavailable() returns when nothing tells how much memory there is.
inline constexpr std::uint64_t kMemoryUnknown = std::numeric_limits<std::uint64_t>::max();

// The bytes of memory the process may still take before the system, or a limit set on it, runs
// out. On Linux that is the least of the system's MemAvailable plus its free swap, and, for each
// memory cgroup from the process's own up to the top (cgroup v2 or v1), its limit less its use,
// plus the page cache it holds (which the kernel drops before it kills: counting it as free
// refuses nothing that fits; only dirty cache is a little slower to drop), plus, on v2, its swap
// still free. A cgroup without a limit, and a system that tells none of this, give
// kMemoryUnknown. The system's files are read under `root`, which is "/" but for a test that
// writes files of its own there. On Windows, which takes no `root`, it is the least of the commit
// the system can still back (its commit limit less its commit charge) and, in a job with a memory
// limit, that limit less the process's commit (a limit on each process) or the job's (a limit on
// the whole job; where the system does not tell that, the process's own).
std::uint64_t memoryavailable(const std::string& root);

// Whether memory can be taken as address space far beyond what is used, its pages costing
// nothing until written: not when a limit on the process's address space or data counts all of
// it (RLIMIT_AS, RLIMIT_DATA), nor when the system charges all of it as it is taken (strict
// overcommit, 2 in proc/sys/vm/overcommit_memory under `root`, read as memoryavailable() reads
// its files), nor on Windows, which charges it too, nor with addresses of less than 64 bits.
bool canreserve(const std::string& root);

// `value` less `taken`, and 0 where `taken` is more: what is left of a limit.
inline std::uint64_t less(std::uint64_t value, std::uint64_t taken) {
    return value > taken ? value - taken : 0;
}

// Asks the system to make the `size` bytes of memory pages from `begin` on ready for writing,
// without writing them; false when it cannot, and the caller makes them as it writes.
bool makepages(void* begin, std::size_t size);

// Gives the memory of the whole pages in the `size` bytes from `begin` back to the system; they
// stay the caller's, and read as zeroes until written again.
void givepages(void* begin, std::size_t size);

}  // namespace binio
