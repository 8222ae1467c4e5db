// Loads files with binio::loadfile, each in turn into the same document, and exits, so that the
// peak memory of a load, or of replacing one document with another, can be read from
// /usr/bin/time -v and compared with the files' sizes. With --toend each file is read to its end,
// as a file whose size tells nothing is:
//   /usr/bin/time -v build/bench/load_peak [--toend] FILE [FILE...]
// Each line it prints says how long the load took, in nanoseconds: open_bench reads that as its
// baseline, a load in a fresh process.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <string_view>
#include <vector>

#include "binio/binio.h"
#include "binio/load.h"

int main(int argc, char** argv) {
    binio::LoadSettings settings;
    int first = 1;
    if (argc > 1 && std::string_view(argv[1]) == "--toend") {
        settings.readtoend = true;
        first = 2;
    }
    if (argc <= first) {
        std::fprintf(stderr, "usage: %s [--toend] FILE [FILE...]\n", argv[0]);
        return 2;
    }
    std::vector<std::uint8_t> document;
    for (int i = first; i < argc; ++i) {
        const auto start = std::chrono::steady_clock::now();
        try {
            binio::loadfile(argv[i], document, binio::Progress(), settings);
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
