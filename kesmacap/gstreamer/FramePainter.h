// Everything a camera draws into its channel: the decoder's pictures (from a
// streaming thread: scaled into the letterbox in the decoder's planes, then
// turned into B, G, R by libyuv) and the library's status pictures (from the
// camera's thread), one at a time.
#pragma once

#include <gst/gst.h>

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "kesmacap/card/Channel.h"
#include "kesmacap/card/Letterbox.h"

namespace kesmacap {

class FramePainter {
  public:
    FramePainter(Channel& channel, int index);

    // A decoded I420 sample, published as the channel's frame.
    void paint(GstSample* sample);
    // The library's own picture: why there is no video, and the source (masked).
    void paintStatus(std::string_view reason, std::string_view source);
    // "640 x 480, shown as 640 x 480": the last picture's size and its size in the frame.
    std::string sizes() const;

  private:
    Channel& channel_;
    const int index_;
    mutable std::mutex mutex_;
    // The scaled planes, and where the picture sits in the frame.
    std::vector<std::uint8_t> scaled_;
    FrameRect fit_{};
    int inputWidth_ = 0;
    int inputHeight_ = 0;
};

}  // namespace kesmacap
