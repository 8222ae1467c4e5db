// The file systems mounted in the process's view of the folders, as Linux lists them in
// /proc/self/mountinfo. Only that file is read: no file system is asked, so a mount that does not
// answer holds up nothing here. Where the file does not exist, no mounts are known.
#pragma once

#include <string>
#include <vector>

namespace binio {

struct Mount {
    std::string root;     // the folder of the file system that is mounted
    std::string point;    // where it is mounted
    std::string type;     // "ext4", "cgroup2"
    std::string options;  // the file system's own, "rw,memory"
};

// The mounts listed in `file`, a file in the form of /proc/self/mountinfo, their paths as they are
// (the file writes a space, tab, line break and backslash in them as a backslash and three octal
// digits); none when it cannot be read.
std::vector<Mount> readmounts(const std::string& file);

// The mount point of the process's mounts that holds `path`, an absolute path without "." or
// "..": the longest one it lies within; empty when the mounts cannot be read.
std::string mountpoint(const std::string& path);

}  // namespace binio
