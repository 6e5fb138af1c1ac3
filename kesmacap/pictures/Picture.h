#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kesmacap {

constexpr int MaxWidth = 640;
constexpr int MaxHeight = 480;
constexpr int BytesPerPixel = 3;
constexpr std::size_t MaxFrameBytes = std::size_t{MaxWidth} * MaxHeight * BytesPerPixel;

// Read-only view of packed BGR rows (width * 3 bytes apart, top row first).
struct PictureView {
    const std::uint8_t* pixels = nullptr;
    int width = 0;
    int height = 0;

    std::size_t rowBytes() const { return static_cast<std::size_t>(width) * BytesPerPixel; }
    const std::uint8_t* row(int y) const { return pixels + rowBytes() * static_cast<std::size_t>(y); }
};

// An owned picture in the same layout.
struct Picture {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> pixels;

    Picture() = default;
    Picture(int pictureWidth, int pictureHeight)
        : width(pictureWidth),
          height(pictureHeight),
          pixels(static_cast<std::size_t>(pictureWidth) * pictureHeight * BytesPerPixel) {}

    PictureView view() const { return {pixels.data(), width, height}; }
};

}  // namespace kesmacap
