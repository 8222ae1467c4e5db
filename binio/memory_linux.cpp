// The memory figures on Linux: /proc/meminfo, the process's memory cgroups (v2 and v1) and its
// resource limits, and madvise for making and giving back pages. On other POSIX systems the
// Linux files are not there and the figures say nothing, which refuses nothing.
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <fstream>
#include <initializer_list>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

#include "binio/memory.h"
#include "binio/mounts.h"

namespace binio {

bool makepages([[maybe_unused]] void* begin, [[maybe_unused]] std::size_t size) {
#ifdef MADV_POPULATE_WRITE
    // A kernel that cannot (before Linux 5.14) leaves every page to the caller.
    return ::madvise(begin, size, MADV_POPULATE_WRITE) == 0;
#else
    return false;
#endif
}

bool canreserve(const std::string& root) {
    if constexpr (sizeof(void*) < 8) {
        return false;
    }
    for (const int resource : {RLIMIT_AS, RLIMIT_DATA}) {
        struct rlimit limit {};
        if (::getrlimit(resource, &limit) != 0 || limit.rlim_cur != RLIM_INFINITY) {
            return false;
        }
    }
    std::ifstream in(root.substr(0, root.find_last_not_of('/') + 1) +
                     "/proc/sys/vm/overcommit_memory");
    int mode = 0;
    return !(in >> mode) || mode != 2;
}

void givepages(void* begin, std::size_t size) {
    const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
    const auto at = reinterpret_cast<std::uintptr_t>(begin);
    const std::uintptr_t first = (at + page - 1) / page * page;
    const std::uintptr_t last = (at + size) / page * page;
#ifdef MADV_DONTNEED
    if (first < last) {
        // Nothing is lost when the system declines: the pages are only kept.
        ::madvise(reinterpret_cast<void*>(first), last - first, MADV_DONTNEED);
    }
#endif
}

namespace {

// The first word of a file as a number: "max" is no limit (kMemoryUnknown); nothing when the
// file is not there or does not start with a number.
std::optional<std::uint64_t> readfigure(const std::string& path) {
    std::ifstream in(path);
    std::string word;
    if (!(in >> word)) {
        return std::nullopt;
    }
    if (word == "max") {
        return kMemoryUnknown;
    }
    std::uint64_t value = 0;
    const char* end = word.data() + word.size();
    const auto [stop, error] = std::from_chars(word.data(), end, value);
    if (error != std::errc() || stop != end) {
        return std::nullopt;
    }
    return value;
}

// The sum of the numbers after `keys` in a file of "key number" lines, as memory.stat and
// /proc/meminfo are ("SwapFree:  12 kB" counts 12); nothing when none of the keys is there.
std::optional<std::uint64_t> sumkeys(const std::string& path,
                                     std::initializer_list<std::string_view> keys) {
    std::ifstream in(path);
    std::optional<std::uint64_t> sum;
    std::string name;
    std::uint64_t value = 0;
    while (in >> name >> value) {
        if (std::find(keys.begin(), keys.end(), name) != keys.end()) {
            sum = sum.value_or(0) + value;
        }
        in.ignore(std::numeric_limits<std::streamsize>::max(), '\n');
    }
    return sum;
}

// The names of a memory cgroup's figures: the limit and what it has used, the page cache among
// that, and its swap limit and use (cgroup v1 has those as one figure with memory, not read).
struct CgroupFiles {
    const char* limit;
    const char* usage;
    std::initializer_list<std::string_view> cache;
    const char* swaplimit;
    const char* swapusage;
};

const CgroupFiles kCgroupV2 = {"memory.max",
                               "memory.current",
                               {"active_file", "inactive_file"},
                               "memory.swap.max",
                               "memory.swap.current"};
const CgroupFiles kCgroupV1 = {"memory.limit_in_bytes",
                               "memory.usage_in_bytes",
                               {"total_active_file", "total_inactive_file"},
                               nullptr,
                               nullptr};

// The least room left in the cgroup at `path` and each cgroup above it, of a hierarchy whose
// folder `mountroot` is mounted at `point`. A level without a limit does not count.
std::uint64_t cgroupavailable(const std::string& point, const std::string& mountroot,
                              std::string path, const CgroupFiles& files, std::uint64_t swapfree) {
    if (mountroot != "/") {
        // Only the cgroups under the mounted folder can be read.
        if (path.compare(0, mountroot.size(), mountroot) != 0 ||
            (path.size() > mountroot.size() && path[mountroot.size()] != '/')) {
            return kMemoryUnknown;
        }
        path.erase(0, mountroot.size());
    }
    std::uint64_t least = kMemoryUnknown;
    for (;;) {
        path.erase(path.find_last_not_of('/') + 1);
        const std::string folder = point + path + "/";
        const auto limit = readfigure(folder + files.limit);
        const auto usage = readfigure(folder + files.usage);
        if (limit && usage && *limit != kMemoryUnknown) {
            std::uint64_t room =
                less(*limit, *usage) + sumkeys(folder + "memory.stat", files.cache).value_or(0);
            if (files.swaplimit != nullptr) {
                const auto swaplimit = readfigure(folder + files.swaplimit);
                const auto swapusage = readfigure(folder + files.swapusage);
                if (swaplimit && swapusage) {
                    room += std::min(less(*swaplimit, *swapusage), swapfree);
                }
            }
            least = std::min(least, room);
        }
        if (path.empty()) {
            return least;
        }
        const auto slash = path.find_last_of('/');
        path.erase(slash == std::string::npos ? 0 : slash);
    }
}

}  // namespace

std::uint64_t memoryavailable(const std::string& root) {
    const std::string base = root.substr(0, root.find_last_not_of('/') + 1);
    const std::string meminfo = base + "/proc/meminfo";
    const std::uint64_t swapfree = sumkeys(meminfo, {"SwapFree:"}).value_or(0) * 1024;
    const auto system = sumkeys(meminfo, {"MemAvailable:", "SwapFree:"});
    std::uint64_t available = system ? *system * 1024 : kMemoryUnknown;

    // The process's cgroup in the unified hierarchy ("0::/path") and in v1's memory hierarchy
    // ("4:memory:/path").
    std::optional<std::string> unified;
    std::optional<std::string> memory;
    std::ifstream groups(base + "/proc/self/cgroup");
    for (std::string line; std::getline(groups, line);) {
        const auto first = line.find(':');
        const auto second = line.find(':', first == std::string::npos ? first : first + 1);
        if (second == std::string::npos) {
            continue;
        }
        const std::string controllers = "," + line.substr(first + 1, second - first - 1) + ",";
        if (controllers == ",,") {
            unified = line.substr(second + 1);
        } else if (controllers.find(",memory,") != std::string::npos) {
            memory = line.substr(second + 1);
        }
    }
    // Where those hierarchies are mounted.
    for (const Mount& mount : readmounts(base + "/proc/self/mountinfo")) {
        if (mount.type == "cgroup2" && unified) {
            available = std::min(available, cgroupavailable(base + mount.point, mount.root,
                                                            *unified, kCgroupV2, swapfree));
        } else if (mount.type == "cgroup" && memory &&
                   ("," + mount.options + ",").find(",memory,") != std::string::npos) {
            available = std::min(available, cgroupavailable(base + mount.point, mount.root, *memory,
                                                            kCgroupV1, swapfree));
        }
    }
    return available;
}

}  // namespace binio
