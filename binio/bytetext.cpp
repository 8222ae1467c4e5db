// The texts that stand for one byte in each display mode, and for an offset.
#include <array>
#include <string>

#include "binio/binio.h"

namespace binio {

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

constexpr std::array<const char*, 16> kNibbles = {
    "0000", "0001", "0010", "0011", "0100", "0101", "0110", "0111",
    "1000", "1001", "1010", "1011", "1100", "1101", "1110", "1111",
};

constexpr std::array<const char*, 33> kControlLabels = {
    "[NUL]", "[SOH]", "[STX]", "[ETX]", "[EOT]", "[ENQ]", "[ACK]", "[BEL]", "[BS]",
    "[TAB]", "[LF]",  "[VT]",  "[FF]",  "[CR]",  "[SO]",  "[SI]",  "[DLE]", "[DC1]",
    "[DC2]", "[DC3]", "[DC4]", "[NAK]", "[SYN]", "[ETB]", "[CAN]", "[EM]",  "[SUB]",
    "[ESC]", "[FS]",  "[GS]",  "[RS]",  "[US]",  "space",
};

}  // namespace

std::string bytetoascii(std::uint8_t b) {
    if (b < kControlLabels.size()) {
        return kControlLabels[b];
    }
    if (b == 127) {
        return "[DEL]";
    }
    return std::string(1, static_cast<char>(b));
}

std::string bytetohex(std::uint8_t b) {
    return {kHexDigits[b >> 4], kHexDigits[b & 15]};
}

std::string bytetobin(std::uint8_t b) {
    return std::string(kNibbles[b >> 4]) + kNibbles[b & 15];
}

std::string bytetodec(std::int32_t value) {
    std::string text = std::to_string(value);
    if (text.size() < 3) {
        text.insert(0, 3 - text.size(), '0');
    }
    return text;
}

std::string addrtohex(std::int32_t offset) {
    if (offset == 0) {
        return "0";
    }
    std::string text;
    while (offset > 0) {
        text.insert(text.begin(), kHexDigits[offset % 16]);
        offset /= 16;
    }
    return text;
}

}  // namespace binio
