#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string_view>

#include "kesmacap/pictures/Picture.h"

namespace kesmacap {

// The simulated card's pictures: a still test card shown while a channel does
// not run, and a live picture that moves from frame to frame. Each channel has
// its own colours and a large "CH1" ... "CH4".
class TestPattern {
  public:
    explicit TestPattern(int channel);

    const Picture& still() const { return still_; }

    // Draws live frame number `frame` at wall-clock time `now` into 640 x 480
    // packed BGR. When the buffer holds live frame `previous` of this pattern
    // already, only what moved is redrawn, not the whole picture.
    void renderLive(std::uint8_t* pixels, std::uint64_t frame, std::chrono::system_clock::time_point now,
                    std::optional<std::uint64_t> previous = std::nullopt) const;

  private:
    // Puts the unchanging picture back over a rectangle, clipped to the picture.
    void restore(std::uint8_t* pixels, int x, int y, int width, int height) const;

    int channel_;
    Picture liveBase_;
    Picture still_;
};

}  // namespace kesmacap
