#include "kesmacap/v4l2/FramePlacer.h"

#include <libyuv/convert_argb.h>
#include <libyuv/convert_from_argb.h>
#include <libyuv/planar_functions.h>
#include <libyuv/scale_argb.h>

#include <algorithm>
#include <cstring>

#include "kesmacap/card/Letterbox.h"

namespace kesmacap {

namespace {

constexpr int Bytes = BytesPerPixel;
// 525-line systems (NTSC, PAL-M) send the bottom field first, 625-line ones
// the top: the order V4L2_FIELD_INTERLACED leaves to the standard.
constexpr int TallestBottomFirst = 486;
// No capture device sends more on a side; a format claiming more is broken.
constexpr int LargestSide = 16384;

}  // namespace

FramePlacer::Rows FramePlacer::picture(const CapturedFrame& frame, Deinterlace deinterlace,
                                       int& displayLines) {
    const int width = frame.width;
    const int height = frame.height;
    const auto rowBytes = static_cast<std::size_t>(width) * Bytes;
    const auto stride = static_cast<std::ptrdiff_t>(frame.bytesPerLine);
    // An alternating buffer holds one field: half the format's lines.
    const int bufferRows = frame.field == V4L2_FIELD_ALTERNATE ? height / 2 : height;
    if (frame.pixels == nullptr || width <= 0 || bufferRows <= 0 || width > LargestSide ||
        height > LargestSide || frame.bytesPerLine < rowBytes ||
        frame.bytesPerLine * static_cast<std::size_t>(bufferRows - 1) + rowBytes > frame.bytes) {
        return {};
    }
    const std::uint8_t* const pixels = frame.pixels;
    displayLines = height;
    const int half = height / 2;
    Rows top;
    Rows bottom;
    bool topFirst = true;
    switch (frame.field) {
        case V4L2_FIELD_TOP:
        case V4L2_FIELD_BOTTOM:
            displayLines = height * 2;  // the format's height is the field's
            return {pixels, stride, height};
        case V4L2_FIELD_ALTERNATE:
            return {pixels, stride, bufferRows};
        case V4L2_FIELD_INTERLACED:
        case V4L2_FIELD_INTERLACED_TB:
        case V4L2_FIELD_INTERLACED_BT:
            if (deinterlace == Deinterlace::Off) {
                return {pixels, stride, height};  // already woven
            }
            top = {pixels, 2 * stride, half};
            bottom = {pixels + stride, 2 * stride, half};
            topFirst = frame.field == V4L2_FIELD_INTERLACED_TB ||
                       (frame.field == V4L2_FIELD_INTERLACED && height > TallestBottomFirst);
            break;
        case V4L2_FIELD_SEQ_TB:
        case V4L2_FIELD_SEQ_BT: {
            // The fields one after the other, the earlier first in memory.
            const Rows first{pixels, stride, half};
            const Rows second{pixels + stride * half, stride, half};
            topFirst = frame.field == V4L2_FIELD_SEQ_TB;
            top = topFirst ? first : second;
            bottom = topFirst ? second : first;
            break;
        }
        default:
            return {pixels, stride, height};  // progressive
    }
    const Rows& earlier = topFirst ? top : bottom;
    switch (deinterlace) {
        case Deinterlace::Bob:
            return earlier;
        case Deinterlace::Blend:
            fields_.resize(rowBytes * static_cast<std::size_t>(half));
            libyuv::InterpolatePlane(top.first, static_cast<int>(top.stride), bottom.first,
                                     static_cast<int>(bottom.stride), fields_.data(),
                                     static_cast<int>(rowBytes), static_cast<int>(rowBytes), half, 128);
            return {fields_.data(), static_cast<std::ptrdiff_t>(rowBytes), half};
        case Deinterlace::Off:
            break;
    }
    // Sequential fields woven back into one frame.
    fields_.resize(rowBytes * static_cast<std::size_t>(half) * 2);
    for (int row = 0; row < half; ++row) {
        const auto woven = static_cast<std::size_t>(row) * 2;
        std::memcpy(&fields_[rowBytes * woven], top.first + top.stride * row, rowBytes);
        std::memcpy(&fields_[rowBytes * (woven + 1)], bottom.first + bottom.stride * row, rowBytes);
    }
    return {fields_.data(), static_cast<std::ptrdiff_t>(rowBytes), half * 2};
}

PlacedSize FramePlacer::place(const CapturedFrame& frame, Deinterlace deinterlace,
                              std::uint8_t* destination) {
    int displayLines = 0;
    const Rows rows = picture(frame, deinterlace, displayLines);
    if (rows.rows <= 0) {
        return {};
    }
    const int width = frame.width;
    const bool asItIs = rows.rows == displayLines && width <= MaxWidth && rows.rows <= MaxHeight &&
                        (!frame.fourByThree || width * 3 == rows.rows * 4);
    if (asItIs) {
        const auto rowBytes = static_cast<std::size_t>(width) * Bytes;
        for (int row = 0; row < rows.rows; ++row) {
            std::memcpy(destination + rowBytes * row, rows.first + rows.stride * row, rowBytes);
        }
        return {width, rows.rows};
    }
    scale(rows, width, displayLines, frame.fourByThree, destination);
    return {MaxWidth, MaxHeight};
}

void FramePlacer::scale(const Rows& rows, int width, int displayLines, bool fourByThree,
                        std::uint8_t* destination) {
    const FrameRect fit = fourByThree ? FitInFrame(4, 3) : FitInFrame(width, displayLines);
    if (fit.width != MaxWidth || fit.height != MaxHeight) {
        std::memset(destination, 0, MaxFrameBytes);
    }
    // libyuv's RGB24 is B, G, R in memory, and its ARGB is B, G, R, A.
    argb_.resize(static_cast<std::size_t>(width) * rows.rows * 4);
    scaled_.resize(static_cast<std::size_t>(fit.width) * fit.height * 4);
    libyuv::RGB24ToARGB(rows.first, static_cast<int>(rows.stride), argb_.data(), width * 4, width, rows.rows);
    libyuv::ARGBScale(argb_.data(), width * 4, width, rows.rows, scaled_.data(), fit.width * 4, fit.width,
                      fit.height, libyuv::kFilterBilinear);
    libyuv::ARGBToRGB24(scaled_.data(), fit.width * 4,
                        destination + (static_cast<std::size_t>(fit.y) * MaxWidth + fit.x) * Bytes,
                        MaxWidth * Bytes, fit.width, fit.height);
}

}  // namespace kesmacap
