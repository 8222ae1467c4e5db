// What the POSIX sources of the file layer share: the parts of a path and the I/O error of an
// errno.
#pragma once

#include <string>

namespace binio {

enum class Direction { reading, writing };

// The folder part and the name part of a path, as the output file needs them ("a/b" -> "a",
// "b"; "b" -> ".", "b"; "/b" -> "/", "b").
std::string dirpart(const std::string& path);
std::string namepart(const std::string& path);

// The path of the file or folder open at `fd`, every link resolved, as the system keeps it for the
// descriptor (no file system is asked); empty where the system does not tell it.
std::string placeof(int fd);

// Throws the I/O error for an errno met on `path`.
[[noreturn]] void throwerrno(int err, const std::string& path, Direction direction);

}  // namespace binio
