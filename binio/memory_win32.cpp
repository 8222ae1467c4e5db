// The memory figures on Windows, which charges every allocation to the commit (memory and the
// page files) when it is made, and refuses the one that the system's commit, or the limit of a job
// the process runs in, cannot back: nothing is killed later. A load that would not fit is refused
// ahead all the same, before it takes the last of the commit, where every program's next
// allocation would fail. No room is reserved uncharged.
#include <windows.h>

#include <psapi.h>

#include <algorithm>

#include "binio/memory.h"

namespace binio {

namespace {

// JobObjectMemoryUsageInformation, which not every header names, and what it tells: the commit of
// the whole job. A system without it (Wine 8 is one) refuses the query.
constexpr auto kJobMemoryUsage = static_cast<JOBOBJECTINFOCLASS>(28);
struct JobMemoryUsage {
    ULONG64 jobmemory;
    ULONG64 peakjobmemoryused;
};

// The process's own commit, 0 when the system does not tell it. PrivateUsage and PagefileUsage are
// the same figure: Windows 7 fills in only the first, Wine only the second.
std::uint64_t processcommit() {
    PROCESS_MEMORY_COUNTERS_EX counters{};
    counters.cb = sizeof counters;
    if (!::GetProcessMemoryInfo(::GetCurrentProcess(),
                                reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                                sizeof counters)) {
        return 0;
    }
    return std::max(counters.PrivateUsage, counters.PagefileUsage);
}

}  // namespace

// The free physical memory alone would leave out the page files and refuse loads that fit.
std::uint64_t memoryavailable(const std::string&) {
    std::uint64_t available = kMemoryUnknown;
    // The commit the system can back now: its commit limit less its commit charge.
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof status;
    if (::GlobalMemoryStatusEx(&status)) {
        available = status.ullAvailPageFile;
    }
    // The limits of the job the process runs in (when jobs nest, the innermost), if it runs in one.
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION job{};
    if (!::QueryInformationJobObject(nullptr, JobObjectExtendedLimitInformation, &job, sizeof job,
                                     nullptr)) {
        return available;
    }
    const DWORD flags = job.BasicLimitInformation.LimitFlags;
    if ((flags & (JOB_OBJECT_LIMIT_PROCESS_MEMORY | JOB_OBJECT_LIMIT_JOB_MEMORY)) == 0) {
        return available;
    }
    const std::uint64_t own = processcommit();
    if ((flags & JOB_OBJECT_LIMIT_PROCESS_MEMORY) != 0) {
        available = std::min<std::uint64_t>(available, less(job.ProcessMemoryLimit, own));
    }
    if ((flags & JOB_OBJECT_LIMIT_JOB_MEMORY) != 0) {
        // Where the system does not tell the job's commit, the process's own is all that is known
        // of it.
        JobMemoryUsage usage{};
        const std::uint64_t used =
            ::QueryInformationJobObject(nullptr, kJobMemoryUsage, &usage, sizeof usage, nullptr)
                ? usage.jobmemory
                : own;
        available = std::min<std::uint64_t>(available, less(job.JobMemoryLimit, used));
    }
    return available;
}

bool canreserve(const std::string&) {
    return false;
}

bool makepages(void*, std::size_t) {
    return false;
}

void givepages(void*, std::size_t) {}

}  // namespace binio
