// The YUV matrices cameras and drivers name, and libyuv's constants for each:
// each library maps its own names (V4L2's, GStreamer's, FFmpeg's) to these.
#pragma once

#include <libyuv/convert_argb.h>

namespace kesmacap {

enum class YuvMatrix { Bt601, Bt709, Bt2020 };

// libyuv's constants for a matrix, with luma in 16-235 (limited) or 0-255 (full).
inline const libyuv::YuvConstants* YuvConstantsFor(YuvMatrix matrix, bool fullRange) {
    switch (matrix) {
        case YuvMatrix::Bt709:
            return fullRange ? &libyuv::kYuvF709Constants : &libyuv::kYuvH709Constants;
        case YuvMatrix::Bt2020:
            return fullRange ? &libyuv::kYuvV2020Constants : &libyuv::kYuv2020Constants;
        case YuvMatrix::Bt601:
            break;
    }
    return fullRange ? &libyuv::kYuvJPEGConstants : &libyuv::kYuvI601Constants;
}

}  // namespace kesmacap
