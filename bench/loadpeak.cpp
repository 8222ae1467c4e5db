// Loads one file with binio::loadfile and exits, so that the peak memory of a load can be read
// from /usr/bin/time -v and compared with the file's size:
//   /usr/bin/time -v build-bench/bench/load_peak FILE
#include <cstdint>
#include <cstdio>
#include <exception>
#include <vector>

#include "binio/binio.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FILE\n", argv[0]);
        return 2;
    }
    std::vector<std::uint8_t> document;
    try {
        binio::loadfile(argv[1], document);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: %s\n", argv[1], e.what());
        return 1;
    }
    std::printf("loaded %zu bytes\n", document.size());
    return 0;
}
