// A capture library's frame as a test reads it, from any card or binding.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace testing_support {

// What GetChannelFrame handed out, with its result.
struct CardFrame {
    std::uint8_t* pixels = nullptr;
    std::int32_t width = -1;
    std::int32_t height = -1;
    std::int32_t sequence = -1;
    std::int32_t result = -1;
};

template <typename Card>
CardFrame FrameOf(Card& card, std::uint16_t channel) {
    CardFrame frame;
    frame.result = card.GetChannelFrame(channel, &frame.pixels, &frame.width, &frame.height, &frame.sequence);
    return frame;
}

// The B, G, R of a frame's pixel.
inline std::array<int, 3> PixelOf(const CardFrame& frame, int x, int y) {
    const std::uint8_t* const at = frame.pixels + (static_cast<std::size_t>(y) * frame.width + x) * 3;
    return {at[0], at[1], at[2]};
}

inline bool Near(const std::array<int, 3>& pixel, const std::array<int, 3>& expected, int tolerance = 24) {
    for (std::size_t i = 0; i < 3; ++i) {
        if (std::abs(pixel[i] - expected[i]) > tolerance) {
            return false;
        }
    }
    return true;
}

// What a network library's frame shows, for its suites: the red test file's picture;
inline bool IsRed(const CardFrame& f) {
    return f.width == 640 && f.height == 480 && Near(PixelOf(f, 320, 240), {0, 0, 255});
}
// the library's own status picture, by its dark face in the corner, where no test picture is dark;
inline bool IsStatus(const CardFrame& f) {
    return f.pixels != nullptr && f.width == 640 && Near(PixelOf(f, 2, 2), {0x20, 0x18, 0x10}, 4);
}
// a picture from the source: not the library's, nor the empty one before any.
inline bool IsVideo(const CardFrame& f) {
    return f.pixels != nullptr && f.width == 640 && !IsStatus(f) && !Near(PixelOf(f, 320, 240), {0, 0, 0});
}

}  // namespace testing_support
