// A capture library's frame as a test reads it, from any card or binding.
#pragma once

#include <cstdint>

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

}  // namespace testing_support
