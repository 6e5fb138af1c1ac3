// A captured B, G, R frame as the channel shows it: its fields dealt with as
// the window's settings say, and a frame larger than 640 x 480 (or one that
// must be line-doubled or stretched to its display aspect) scaled to fit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "kesmacap/v4l2/V4l2Settings.h"

namespace kesmacap {

struct CapturedFrame {
    const std::uint8_t* pixels = nullptr;
    std::size_t bytes = 0;  // what the buffer holds
    int width = 0;          // the format's
    int height = 0;         // the format's: a frame's lines, or a field's for FIELD_TOP/BOTTOM
    std::size_t bytesPerLine = 0;
    std::uint32_t field = V4L2_FIELD_NONE;  // this buffer's
    // An analogue standard's picture, 4:3 whatever its size (720 x 576, 704 x 480 ...).
    bool fourByThree = false;
};

struct PlacedSize {
    int width = 0;  // 0: the buffer was short, nothing placed
    int height = 0;
};

// Keeps its working buffers from frame to frame; one per capture thread.
class FramePlacer {
  public:
    // Draws frame into destination (640 x 480, packed B, G, R): as it is when
    // it fits and needs nothing done, else scaled into the largest rectangle
    // of its display aspect, centred, black around it.
    PlacedSize place(const CapturedFrame& frame, Deinterlace deinterlace, std::uint8_t* destination);

  private:
    // Rows of B, G, R pixels: `rows` lines `stride` bytes apart.
    struct Rows {
        const std::uint8_t* first = nullptr;
        std::ptrdiff_t stride = 0;
        int rows = 0;
    };
    Rows picture(const CapturedFrame& frame, Deinterlace deinterlace, int& displayLines);
    void scale(const Rows& rows, int width, int displayLines, bool fourByThree, std::uint8_t* destination);

    std::vector<std::uint8_t> fields_;  // woven or blended fields
    std::vector<std::uint8_t> argb_;
    std::vector<std::uint8_t> scaled_;
};

}  // namespace kesmacap
