// Writing the byte document back, raw or as a text of fixed-width numbers, under a new name.
#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "binio/binio.h"
#include "binio/fileio.h"

namespace binio {

namespace {

// The spacing of the texts in the lookup table: the width rounded up to a power of two, so that
// a text of width 3 is copied as one 4-byte move.
constexpr std::size_t tablestride(std::size_t width) {
    return std::bit_ceil(width);
}

// Writes the text of each of the n bytes at `bytes` to `out`, copying it from `table`, which
// holds one text per byte value every tablestride(Width) characters. With a constant width each
// copy compiles to one load and one store instead of a call to memcpy per byte; it moves the
// whole stride, so up to stride - Width bytes past the last text are overwritten too.
template <std::size_t Width>
void encodewidth(const std::uint8_t* bytes, std::size_t n, const char* table, std::uint8_t* out) {
    constexpr std::size_t stride = tablestride(Width);
    for (const std::uint8_t* end = bytes + n; bytes != end; ++bytes) {
        std::memcpy(out, table + *bytes * stride, stride);
        out += Width;
    }
}

// The texts of one radix are 2 (hex), 3 (decimal) or 8 (binary) characters wide.
constexpr std::size_t kWidestText = 8;
static_assert(tablestride(kWidestText) == kWidestText);

void encode(const std::uint8_t* bytes, std::size_t n, const char* table, std::size_t width,
            std::uint8_t* out) {
    switch (width) {
        case 2:
            return encodewidth<2>(bytes, n, table, out);
        case 3:
            return encodewidth<3>(bytes, n, table, out);
        default:
            return encodewidth<kWidestText>(bytes, n, table, out);
    }
}

}  // namespace

void savebin(const std::string& path, const std::vector<std::uint8_t>& document,
             const Progress& progress, const Stop& stop) {
    OutputFile out(path, stop);
    const std::size_t size = document.size();
    report(progress, 0, size);
    for (std::size_t done = 0; done < size;) {
        std::size_t n = std::min(kBlockSize, size - done);
        out.write(document.data() + done, n);
        done += n;
        report(progress, done, size);
    }
    out.commit();
}

void savetext(const std::string& path, const std::vector<std::uint8_t>& document,
              std::uint8_t radix, const Progress& progress, const Stop& stop) {
    std::string (*label)(std::uint8_t) = nullptr;
    switch (radix) {
        case 16:
            label = bytetohex;
            break;
        case 2:
            label = bytetobin;
            break;
        case 10:
            label = [](std::uint8_t b) { return bytetodec(b); };
            break;
        default:
            break;
    }
    OutputFile out(path, stop);
    if (label == nullptr) {
        // An unknown radix still leaves an empty file, as a save in any mode leaves a file.
        out.commit();
        return;
    }

    // Every byte's text has the same width in one radix, so the texts are looked up in a table
    // and copied into a large buffer that is written whenever it is full.
    const std::size_t width = label(0).size();
    const std::size_t stride = tablestride(width);
    std::array<char, 256 * kWidestText> table{};
    for (int b = 0; b < 256; ++b) {
        std::memcpy(table.data() + b * stride, label(static_cast<std::uint8_t>(b)).data(), width);
    }
    // The spare bytes at the end take what the copy of the last text moves past it.
    const std::size_t perblock = kBlockSize / width;
    std::vector<std::uint8_t> buffer(perblock * width + (stride - width));

    const std::size_t size = document.size();
    report(progress, 0, size);
    for (std::size_t done = 0; done < size;) {
        std::size_t n = std::min(perblock, size - done);
        encode(document.data() + done, n, table.data(), width, buffer.data());
        out.write(buffer.data(), n * width);
        done += n;
        report(progress, done, size);
    }
    out.commit();
}

}  // namespace binio
