// Loads files with binio::loadfile, each in turn into the same document, and exits, so that the
// peak memory of a load, or of replacing one document with another, can be read from
// /usr/bin/time -v and compared with the files' sizes:
//   /usr/bin/time -v build/bench/load_peak FILE [FILE...]
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
        try {
            binio::loadfile(argv[i], document);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "%s: %s\n", argv[i], e.what());
            return 1;
        }
        std::printf("loaded %zu bytes\n", document.size());
    }
    return 0;
}
