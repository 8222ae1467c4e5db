// Loads files with binio::loadfile, each in turn into the same document, and exits, so that the
// peak memory of a load, or of replacing one document with another, can be read from
// /usr/bin/time -v and compared with the files' sizes:
//   /usr/bin/time -v build/bench/load_peak FILE [FILE...]
// Each line it prints says how long the load took, in nanoseconds: open_bench reads that as its
// baseline, a load in a fresh process.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <vector>

#include "binio/binio.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE [FILE...]\n", argv[0]);
        return 2;
    }
    std::vector<std::uint8_t> document;
    for (int i = 1; i < argc; ++i) {
        const auto start = std::chrono::steady_clock::now();
        try {
            binio::loadfile(argv[i], document);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "%s: %s\n", argv[i], e.what());
            return 1;
        }
        const std::chrono::nanoseconds took = std::chrono::steady_clock::now() - start;
        std::printf("loaded %zu bytes in %lld ns\n", document.size(),
                    static_cast<long long>(took.count()));
    }
    return 0;
}
