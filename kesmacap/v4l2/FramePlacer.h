// A captured frame as the channel shows it, in B, G, R: its fields dealt with
// as the window's settings say, and a frame larger than 640 x 480 (or one that
// must be line-doubled or stretched to its display aspect) scaled to fit.
// YUV frames are deinterlaced and scaled as they came and converted once.
#pragma once

#include <linux/videodev2.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "kesmacap/v4l2/V4l2Settings.h"

namespace kesmacap {

struct CapturedFrame {
    const std::uint8_t* pixels = nullptr;
    std::size_t bytes = 0;  // what the buffer holds
    int width = 0;          // the format's
    int height = 0;         // the format's: a frame's lines, or a field's for FIELD_TOP, _BOTTOM, _ALTERNATE
    std::size_t bytesPerLine = 0;           // of the first plane; a 4:2:0 format's chroma planes take half
    std::uint32_t field = V4L2_FIELD_NONE;  // this buffer's
    // An analogue standard's picture, 4:3 whatever its size (720 x 576, 704 x 480 ...).
    bool fourByThree = false;
    std::uint32_t pixelFormat = V4L2_PIX_FMT_BGR24;  // one LineBytes knows
    // The analogue standard it was captured in (0: none known), which says
    // which field of an interlaced frame came first.
    v4l2_std_id standard = 0;
    // A YUV format's, as v4l2_pix_format gives them; 0: V4L2's default for the picture.
    std::uint32_t colorspace = V4L2_COLORSPACE_DEFAULT;
    std::uint32_t ycbcrEncoding = V4L2_YCBCR_ENC_DEFAULT;
    std::uint32_t quantization = V4L2_QUANTIZATION_DEFAULT;
};

struct PlacedSize {
    int width = 0;  // 0: the buffer was short or its format unknown, nothing placed
    int height = 0;
};

// The bytes of a line of the first plane, packed, in a pixel format place()
// takes (B, G, R and the YUV formats capture cards send); 0 for any other.
std::size_t LineBytes(std::uint32_t pixelFormat, std::uint32_t width);

// The pixel format to ask a device for, from its VIDIOC_ENUM_FMT list: a YUV
// format it sends itself, else B, G, R, which libv4l2 converts to from the
// formats only it can read (MJPEG, Bayer ...). Formats libv4l2 merely offers
// to convert to (V4L2_FMT_FLAG_EMULATED) are never taken for the device's own.
std::uint32_t ChooseCaptureFormat(const std::vector<v4l2_fmtdesc>& offered);

// Keeps its working buffers from frame to frame; one per capture thread.
class FramePlacer {
  public:
    // Draws frame into destination (640 x 480, packed B, G, R): as it is when
    // it fits and needs nothing done, else scaled into the largest rectangle
    // of its display aspect, centred, black around it.
    PlacedSize place(const CapturedFrame& frame, Deinterlace deinterlace, std::uint8_t* destination);

  private:
    struct Plane;
    struct Picture;
    static Picture planesOf(const CapturedFrame& frame);
    static Picture fieldOf(const Picture& frame, bool interleaved, bool second);
    Picture fields(const CapturedFrame& frame, Deinterlace deinterlace);
    Picture combined(const Picture& top, const Picture& bottom, Deinterlace deinterlace);
    PlacedSize placeBgr(const Picture& picture, bool fourByThree, std::uint8_t* destination);
    PlacedSize placeYuv(const Picture& picture, const CapturedFrame& frame, std::uint8_t* destination);
    void scalePlane(const std::uint8_t* source, int sourceStride, int width, int rows, std::uint8_t* target,
                    int targetStride, int targetWidth, int targetRows);

    std::vector<std::uint8_t> fields_;  // woven or blended fields
    std::vector<std::uint8_t> i420_;    // a packed or NV12 picture as I420
    std::vector<std::uint8_t> argb_;
    std::vector<std::uint8_t> scaled_;
    // A plane's rows scaled, transposed, and its columns scaled.
    std::vector<std::uint8_t> rowsScaled_;
    std::vector<std::uint8_t> transposed_;
    std::vector<std::uint8_t> columns_;
};

}  // namespace kesmacap
