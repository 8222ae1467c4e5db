// loadfile with what a test or a benchmark sets in place of the running system's: where the
// figures of free memory are read, and whether a file whose size is known is read to its end all
// the same, as a file whose size tells nothing is.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "binio/binio.h"

namespace binio {

struct LoadSettings {
    // The folder that stands for "/" when the memory figures are read (see memory.h).
    std::string systemroot = "/";
    bool readtoend = false;
};

void loadfile(const std::string& path, std::vector<std::uint8_t>& document,
              const Progress& progress, const LoadSettings& settings, const Stop& stop = {});

}  // namespace binio
