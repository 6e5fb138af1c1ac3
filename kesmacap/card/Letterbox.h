// Where a picture goes in the channel's 640 x 480 frame: as large as it fits
// with its display aspect kept, centred, black bars around it.
#pragma once

#include <algorithm>
#include <cstdint>

#include "kesmacap/pictures/Picture.h"

namespace kesmacap {

struct FrameRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool operator==(const FrameRect&) const = default;
};

// A width x height picture whose pixels are aspectNum:aspectDen wide (1:1
// square, 16:15 a PAL frame's). Sizes and offsets even, as 4:2:0 chroma wants.
// An empty or nonsensical picture fits nowhere: an empty rectangle.
constexpr FrameRect FitInFrame(int width, int height, int aspectNum = 1, int aspectDen = 1) {
    if (width <= 0 || height <= 0 || aspectNum <= 0 || aspectDen <= 0) {
        return {};
    }
    // Display width against height, in 64 bits: width * aspectNum : height * aspectDen.
    const std::int64_t wide = std::int64_t{width} * aspectNum;
    const std::int64_t high = std::int64_t{height} * aspectDen;
    FrameRect fit{0, 0, MaxWidth, MaxHeight};
    if (wide * MaxHeight > high * MaxWidth) {
        fit.height = static_cast<int>(std::max<std::int64_t>(2, (MaxWidth * high / wide) & ~std::int64_t{1}));
    } else {
        fit.width = static_cast<int>(std::max<std::int64_t>(2, (MaxHeight * wide / high) & ~std::int64_t{1}));
    }
    fit.x = ((MaxWidth - fit.width) / 2) & ~1;
    fit.y = ((MaxHeight - fit.height) / 2) & ~1;
    return fit;
}

}  // namespace kesmacap
