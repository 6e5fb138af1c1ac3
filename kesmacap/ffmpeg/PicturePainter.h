// Everything a camera draws into its channel, all from the camera's thread:
// the decoder's pictures, scaled into their letterbox and turned into B, G, R
// once, straight into the channel's frame; and the library's status pictures.
#pragma once

extern "C" {
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "kesmacap/card/Channel.h"
#include "kesmacap/card/Letterbox.h"

namespace kesmacap {

class PicturePainter {
  public:
    PicturePainter(Channel& channel, int index);

    // A decoded picture, published as the channel's frame.
    void paint(const AVFrame& frame);
    // The library's own picture: why there is no video, and the source (masked).
    void paintStatus(std::string_view reason, std::string_view source);
    // "640 x 480, shown as 640 x 480": the last picture's size and its size in the frame.
    std::string sizes() const;

  private:
    struct ScalerFree {
        void operator()(SwsContext* scaler) const { sws_freeContext(scaler); }
    };
    // What the scaler was made for: another picture needs another scaler.
    struct Input {
        int width = 0;
        int height = 0;
        int format = -1;
        int colourSpace = -1;
        bool fullRange = false;
        bool operator==(const Input&) const = default;
    };

    // 4:2:0 and 4:2:2, nearly every camera's pictures, by libyuv where the
    // library has it: scaled in their planes, then converted, at a fifth of
    // swscale's cost (bench/FfmpegPicture.cpp). False for other formats.
    bool placeYuv(const AVFrame& frame, std::uint8_t* at);
    // Any format, scaled and converted in one pass by swscale.
    bool placeScaled(const AVFrame& frame, std::uint8_t* at, bool changed);

    Channel& channel_;
    const int index_;
    std::unique_ptr<SwsContext, ScalerFree> scaler_;
    std::vector<std::uint8_t> scaled_;  // the planes libyuv scales into
    Input input_;
    FrameRect fit_{};
};

}  // namespace kesmacap
