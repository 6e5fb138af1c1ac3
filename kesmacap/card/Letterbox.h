// Where a picture goes in the channel's 640 x 480 frame: as large as it fits
// with its display aspect kept, centred, black bars around it.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

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

// Paints what a picture at `fit` leaves of a 640 x 480 B, G, R frame black.
inline void PaintBars(std::uint8_t* frame, const FrameRect& fit) {
    constexpr std::size_t Row = std::size_t{MaxWidth} * BytesPerPixel;
    std::memset(frame, 0, Row * static_cast<std::size_t>(fit.y));
    const int below = fit.y + fit.height;
    std::memset(frame + Row * static_cast<std::size_t>(below), 0,
                Row * static_cast<std::size_t>(MaxHeight - below));
    const auto left = static_cast<std::size_t>(fit.x) * BytesPerPixel;
    const std::size_t right = Row - left - static_cast<std::size_t>(fit.width) * BytesPerPixel;
    if (left + right > 0) {
        for (int y = fit.y; y < below; ++y) {
            std::uint8_t* const row = frame + Row * static_cast<std::size_t>(y);
            std::memset(row, 0, left);
            std::memset(row + Row - right, 0, right);
        }
    }
}

}  // namespace kesmacap
