// Grid geometry and the view rules.
#include "textout/textout.h"

#include <algorithm>
#include <cstdint>

namespace textout {

Point cellpos(std::int32_t r, std::int32_t columns, std::int32_t w, std::int32_t h) {
    if (columns < 1) {
        return {0, 0};
    }
    return {(r % columns) * w, (r / columns) * h};
}

std::int32_t cellat(Point p, std::int32_t columns, std::int32_t w, std::int32_t h) {
    if (columns < 1 || w < 1 || h < 1 || p.x < 0 || p.y < 0) {
        return -1;
    }
    const std::int64_t width = std::int64_t{columns} * w;
    if (p.x >= width || p.y >= std::int64_t{kHitRows} * h) {
        return -1;
    }
    const std::int64_t index = std::int64_t{p.y / h} * columns + p.x / w;
    return index <= INT32_MAX ? static_cast<std::int32_t>(index) : -1;
}

std::int32_t columnsfor(std::int32_t width, std::int32_t cellw) {
    return std::max((width - kRightMargin) / cellw, 0);
}

ScrollRange scrollrange(std::int32_t length, std::int32_t cols) {
    if (cols < 1) {
        return {0, 1, 1};
    }
    return {length / cols, cols, 1};
}

std::int64_t topaddrfor(std::int32_t position, std::int32_t cols) {
    const auto product = static_cast<std::uint32_t>(position) * static_cast<std::uint32_t>(cols);
    return static_cast<std::int32_t>(product);
}

std::int32_t visiblecount(std::int32_t height, std::int32_t cellh, std::int32_t cols) {
    if (cols < 1 || cellh < 1 || height < cellh) {
        return 0;
    }
    const std::int64_t count = std::int64_t{height / cellh} * cols;
    return static_cast<std::int32_t>(std::min<std::int64_t>(count, INT32_MAX));
}

VisibleCells visiblecells(std::int64_t topaddr, std::int32_t count, std::int32_t length) {
    if (count <= 0 || topaddr < 0 || topaddr > length) {
        return {0, -1};
    }
    const std::int64_t left = length - topaddr;  // bytes from topaddr to the end, >= 0
    if (left >= count) {
        return {count, -1};
    }
    return {static_cast<std::int32_t>(left), static_cast<std::int32_t>(left)};
}

}  // namespace textout
