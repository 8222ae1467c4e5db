// The process's mounts, from /proc/self/mountinfo.
#include "binio/mounts.h"

#include <charconv>
#include <fstream>
#include <sstream>
#include <utility>

namespace binio {

namespace {

// A path as mountinfo writes it, the escapes undone.
std::string unescaped(const std::string& field) {
    std::string path;
    for (std::size_t i = 0; i < field.size(); ++i) {
        const char* digits = field.data() + i + 1;
        unsigned value = 0;
        if (field[i] == '\\' && i + 3 < field.size() &&
            std::from_chars(digits, digits + 3, value, 8).ptr == digits + 3) {
            path += static_cast<char>(value);
            i += 3;
        } else {
            path += field[i];
        }
    }
    return path;
}

}  // namespace

std::vector<Mount> readmounts(const std::string& file) {
    std::vector<Mount> mounts;
    std::ifstream in(file);
    // "id parent device root point options [optional fields] - type source superoptions"
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        std::string word;
        Mount mount;
        fields >> word >> word >> word >> mount.root >> mount.point;
        while (fields >> word && word != "-") {
        }
        fields >> mount.type >> word >> mount.options;
        if (!mount.point.empty()) {
            mount.root = unescaped(mount.root);
            mount.point = unescaped(mount.point);
            mounts.push_back(std::move(mount));
        }
    }
    return mounts;
}

std::string mountpoint(const std::string& path) {
    std::string longest;
    for (const Mount& mount : readmounts("/proc/self/mountinfo")) {
        const std::string& point = mount.point;
        const bool within =
            path.compare(0, point.size(), point) == 0 &&
            (path.size() == point.size() || point.back() == '/' || path[point.size()] == '/');
        if (within && point.size() > longest.size()) {
            longest = point;
        }
    }
    return longest;
}

}  // namespace binio
