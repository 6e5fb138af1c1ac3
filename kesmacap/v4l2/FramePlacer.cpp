#include "kesmacap/v4l2/FramePlacer.h"

#include <libyuv/convert.h>
#include <libyuv/convert_argb.h>
#include <libyuv/convert_from_argb.h>
#include <libyuv/planar_functions.h>
#include <libyuv/rotate.h>
#include <libyuv/scale.h>
#include <libyuv/scale_argb.h>

#include <algorithm>
#include <array>
#include <cstring>

#include "kesmacap/card/Letterbox.h"
#include "kesmacap/pictures/YuvMatrix.h"

namespace kesmacap {

struct FramePlacer::Plane {
    const std::uint8_t* first = nullptr;
    std::ptrdiff_t stride = 0;
    int rows = 0;
    std::size_t rowBytes = 0;
};

// One packed plane, or I420's three (U before V), or NV12's two.
struct FramePlacer::Picture {
    std::array<Plane, 3> planes{};
    int planeCount = 0;
    int width = 0;
    int rows = 0;
    int displayLines = 0;     // the rows it stands for: twice a lone field's
    bool bothFields = false;  // an interlaced frame's two fields, woven

    // A 4:2:0 picture has only the rows its chroma covers.
    void countRows() {
        rows = planeCount > 1 ? std::min(planes[0].rows, planes[1].rows * 2) : planes[0].rows;
    }
};

namespace {

constexpr int Bytes = BytesPerPixel;
// Without a standard, NTSC's frames (bottom field first) are the ones this tall or shorter.
constexpr int TallestBottomFirst = 486;
// No capture device sends more on a side; a format claiming more is broken.
constexpr int LargestSide = 16384;
// Nor longer lines (libyuv takes their length as an int).
constexpr std::size_t LongestLine = std::size_t{LargestSide} * 8;

enum class Layout : std::uint8_t { Bgr, Packed, Planar, SemiPlanar };

struct Format {
    std::uint32_t code;
    Layout layout;
};
// In the order a device's own formats are preferred: packed 4:2:2 first, as
// it keeps the colour of each field apart where a card's 4:2:0 of an
// interlaced frame may mix them.
constexpr std::array<Format, 6> Formats{{
    {V4L2_PIX_FMT_YUYV, Layout::Packed},
    {V4L2_PIX_FMT_UYVY, Layout::Packed},
    {V4L2_PIX_FMT_YUV420, Layout::Planar},
    {V4L2_PIX_FMT_YVU420, Layout::Planar},
    {V4L2_PIX_FMT_NV12, Layout::SemiPlanar},
    {V4L2_PIX_FMT_BGR24, Layout::Bgr},
}};

const Format* formatOf(std::uint32_t code) {
    const auto found = std::find_if(Formats.begin(), Formats.end(),
                                    [code](const Format& format) { return format.code == code; });
    return found == Formats.end() ? nullptr : &*found;
}

// Which field V4L2_FIELD_INTERLACED sends first is the standard's: "M/NTSC
// transmits the bottom field first, all other standards the top field first"
// (the kernel's field order documentation).
bool topFieldFirst(const CapturedFrame& frame) {
    if (frame.field != V4L2_FIELD_INTERLACED) {
        return frame.field == V4L2_FIELD_INTERLACED_TB || frame.field == V4L2_FIELD_SEQ_TB;
    }
    const bool ntsc = (frame.standard & V4L2_STD_NTSC) != 0;
    const bool other = (frame.standard & ~V4L2_STD_NTSC) != 0;
    if (ntsc != other) {
        return other;
    }
    return frame.height > TallestBottomFirst;  // no standard known (or a set of both): its height tells
}

// The Y'CbCr matrix and range, each unset one as V4L2 defaults it: the
// colorspace is SMPTE 170M for a standard-definition picture and Rec. 709
// for a high-definition one, the encoding follows the colorspace, and the
// range is limited but for JPEG's.
const libyuv::YuvConstants* matrixOf(const CapturedFrame& frame) {
    const bool highDefinition = frame.width >= 1280 || frame.height >= 720;
    const std::uint32_t byDefinition = highDefinition ? V4L2_COLORSPACE_REC709 : V4L2_COLORSPACE_SMPTE170M;
    const std::uint32_t colorspace =
        frame.colorspace != V4L2_COLORSPACE_DEFAULT ? frame.colorspace : byDefinition;
    const std::uint32_t encoding = frame.ycbcrEncoding != V4L2_YCBCR_ENC_DEFAULT
                                       ? frame.ycbcrEncoding
                                       : static_cast<std::uint32_t>(V4L2_MAP_YCBCR_ENC_DEFAULT(colorspace));
    const std::uint32_t quantization =
        frame.quantization != V4L2_QUANTIZATION_DEFAULT
            ? frame.quantization
            : static_cast<std::uint32_t>(V4L2_MAP_QUANTIZATION_DEFAULT(false, colorspace, encoding));
    const bool full = quantization == V4L2_QUANTIZATION_FULL_RANGE;
    switch (encoding) {
        case V4L2_YCBCR_ENC_709:
        case V4L2_YCBCR_ENC_XV709:
        case V4L2_YCBCR_ENC_SMPTE240M:  // libyuv has no SMPTE 240M matrix; Rec. 709's is the nearest
            return YuvConstantsFor(YuvMatrix::Bt709, full);
        case V4L2_YCBCR_ENC_BT2020:
        case V4L2_YCBCR_ENC_BT2020_CONST_LUM:
            return YuvConstantsFor(YuvMatrix::Bt2020, full);
        default:
            return YuvConstantsFor(YuvMatrix::Bt601, full);
    }
}

// Whether a picture is shown as it is, at the top left: it fits and needs no scaling to its aspect.
bool asItIs(int width, int rows, int displayLines, bool fourByThree) {
    return rows == displayLines && width <= MaxWidth && rows <= MaxHeight &&
           (!fourByThree || width * 3 == rows * 4);
}

int toInt(std::size_t value) {
    return static_cast<int>(value);
}

}  // namespace

std::size_t LineBytes(std::uint32_t pixelFormat, std::uint32_t width) {
    const Format* const format = formatOf(pixelFormat);
    if (format == nullptr) {
        return 0;
    }
    switch (format->layout) {
        case Layout::Bgr:
            return std::size_t{width} * Bytes;
        case Layout::Packed:
            return (std::size_t{width} + 1) / 2 * 4;  // two pixels in four bytes
        default:
            return width;  // the luma plane's
    }
}

std::uint32_t ChooseCaptureFormat(const std::vector<v4l2_fmtdesc>& offered) {
    for (const Format& format : Formats) {
        const bool own = std::any_of(offered.begin(), offered.end(), [&](const v4l2_fmtdesc& entry) {
            return entry.pixelformat == format.code && (entry.flags & V4L2_FMT_FLAG_EMULATED) == 0;
        });
        if (own && format.layout != Layout::Bgr) {
            return format.code;
        }
    }
    return V4L2_PIX_FMT_BGR24;
}

// The buffer's planes, or none when its format is unknown or they do not fit in it.
FramePlacer::Picture FramePlacer::planesOf(const CapturedFrame& frame) {
    const Format* const format = formatOf(frame.pixelFormat);
    if (format == nullptr || frame.pixels == nullptr || frame.width <= 0 || frame.height <= 0 ||
        frame.width > LargestSide || frame.height > LargestSide || frame.bytesPerLine > LongestLine) {
        return {};
    }
    const auto width = static_cast<std::size_t>(frame.width);
    const std::size_t chromaWidth = (width + 1) / 2;
    const std::size_t stride = frame.bytesPerLine;
    const int rows = frame.height;
    const int chromaRows = (rows + 1) / 2;
    // Each plane's offset in the buffer, its stride, rows and row length.
    struct Extent {
        std::size_t offset;
        std::size_t stride;
        int rows;
        std::size_t rowBytes;
    };
    std::array<Extent, 3> extents{};
    int count = 1;
    const std::size_t lumaBytes = stride * static_cast<std::size_t>(rows);
    switch (format->layout) {
        case Layout::Bgr:
        case Layout::Packed:
            extents[0] = {0, stride, rows, LineBytes(frame.pixelFormat, static_cast<std::uint32_t>(width))};
            break;
        case Layout::Planar: {
            const std::size_t chromaStride = stride / 2;
            const std::size_t chromaBytes = chromaStride * static_cast<std::size_t>(chromaRows);
            const bool vFirst = frame.pixelFormat == V4L2_PIX_FMT_YVU420;
            extents[0] = {0, stride, rows, width};
            extents[1] = {lumaBytes + (vFirst ? chromaBytes : 0), chromaStride, chromaRows, chromaWidth};
            extents[2] = {lumaBytes + (vFirst ? 0 : chromaBytes), chromaStride, chromaRows, chromaWidth};
            count = 3;
            break;
        }
        case Layout::SemiPlanar:
            extents[0] = {0, stride, rows, width};
            extents[1] = {lumaBytes, stride, chromaRows, chromaWidth * 2};
            count = 2;
            break;
    }
    Picture picture;
    for (int index = 0; index < count; ++index) {
        const Extent& extent = extents[index];
        if (extent.stride < extent.rowBytes ||
            extent.offset + extent.stride * static_cast<std::size_t>(extent.rows - 1) + extent.rowBytes >
                frame.bytes) {
            return {};
        }
        picture.planes[index] = {frame.pixels + extent.offset, static_cast<std::ptrdiff_t>(extent.stride),
                                 extent.rows, extent.rowBytes};
    }
    picture.planeCount = count;
    picture.width = frame.width;
    picture.countRows();
    picture.displayLines = picture.rows;
    return picture;
}

// One field of each plane: every other row from the first or the second
// (interleaved), or the first or the second half (sequential).
FramePlacer::Picture FramePlacer::fieldOf(const Picture& frame, bool interleaved, bool second) {
    Picture field = frame;
    for (int index = 0; index < frame.planeCount; ++index) {
        const Plane& plane = frame.planes[index];
        const int rows = plane.rows / 2;
        field.planes[index] =
            interleaved
                ? Plane{plane.first + (second ? plane.stride : 0), plane.stride * 2, rows, plane.rowBytes}
                : Plane{plane.first + (second ? plane.stride * rows : 0), plane.stride, rows, plane.rowBytes};
    }
    field.countRows();
    field.displayLines = frame.rows;
    return field;
}

FramePlacer::Picture FramePlacer::fields(const CapturedFrame& frame, Deinterlace deinterlace) {
    Picture picture = planesOf(frame);
    if (picture.planeCount == 0) {
        return {};
    }
    bool interleaved = true;
    switch (frame.field) {
        case V4L2_FIELD_TOP:
        case V4L2_FIELD_BOTTOM:
        case V4L2_FIELD_ALTERNATE:
            picture.displayLines = picture.rows * 2;  // the format's height is the field's
            return picture;
        case V4L2_FIELD_INTERLACED:
        case V4L2_FIELD_INTERLACED_TB:
        case V4L2_FIELD_INTERLACED_BT:
            if (deinterlace == Deinterlace::Off) {
                picture.bothFields = true;  // already woven
                return picture;
            }
            break;
        case V4L2_FIELD_SEQ_TB:
        case V4L2_FIELD_SEQ_BT:
            interleaved = false;
            break;
        default:
            return picture;  // progressive
    }
    const bool topFirst = topFieldFirst(frame);
    // Sequential fields lie one after the other, the earlier first in memory.
    const bool topSecond = !interleaved && !topFirst;
    const Picture top = fieldOf(picture, interleaved, topSecond);
    const Picture bottom = fieldOf(picture, interleaved, !topSecond);
    if (deinterlace == Deinterlace::Bob) {
        return topFirst ? top : bottom;
    }
    return combined(top, bottom, deinterlace);
}

// Both fields averaged (Blend), or woven back into one frame (Off).
FramePlacer::Picture FramePlacer::combined(const Picture& top, const Picture& bottom,
                                           Deinterlace deinterlace) {
    const int factor = deinterlace == Deinterlace::Off ? 2 : 1;
    std::size_t total = 0;
    for (int index = 0; index < top.planeCount; ++index) {
        total += top.planes[index].rowBytes * static_cast<std::size_t>(top.planes[index].rows * factor);
    }
    fields_.resize(total);
    Picture result = top;
    std::uint8_t* at = fields_.data();
    for (int index = 0; index < top.planeCount; ++index) {
        const Plane& upper = top.planes[index];
        const Plane& lower = bottom.planes[index];
        const std::size_t line = upper.rowBytes;
        if (factor == 2) {
            for (int row = 0; row < upper.rows; ++row) {
                std::memcpy(at + line * (2 * row), upper.first + upper.stride * row, line);
                std::memcpy(at + line * (2 * row + 1), lower.first + lower.stride * row, line);
            }
        } else {
            libyuv::InterpolatePlane(upper.first, static_cast<int>(upper.stride), lower.first,
                                     static_cast<int>(lower.stride), at, toInt(line), toInt(line), upper.rows,
                                     128);
        }
        result.planes[index] = {at, static_cast<std::ptrdiff_t>(line), upper.rows * factor, line};
        at += line * static_cast<std::size_t>(upper.rows * factor);
    }
    result.countRows();
    result.bothFields = factor == 2;
    return result;
}

PlacedSize FramePlacer::place(const CapturedFrame& frame, Deinterlace deinterlace,
                              std::uint8_t* destination) {
    const Picture picture = fields(frame, deinterlace);
    if (picture.rows <= 0 || destination == nullptr) {
        return {};
    }
    return frame.pixelFormat == V4L2_PIX_FMT_BGR24 ? placeBgr(picture, frame.fourByThree, destination)
                                                   : placeYuv(picture, frame, destination);
}

PlacedSize FramePlacer::placeBgr(const Picture& picture, bool fourByThree, std::uint8_t* destination) {
    const Plane& rows = picture.planes[0];
    const int width = picture.width;
    if (asItIs(width, picture.rows, picture.displayLines, fourByThree)) {
        for (int row = 0; row < picture.rows; ++row) {
            std::memcpy(destination + rows.rowBytes * row, rows.first + rows.stride * row, rows.rowBytes);
        }
        return {width, picture.rows};
    }
    const FrameRect fit = fourByThree ? FitInFrame(4, 3) : FitInFrame(width, picture.displayLines);
    if (fit.width != MaxWidth || fit.height != MaxHeight) {
        std::memset(destination, 0, MaxFrameBytes);
    }
    // libyuv's RGB24 is B, G, R in memory, and its ARGB is B, G, R, A.
    argb_.resize(static_cast<std::size_t>(width) * picture.rows * 4);
    scaled_.resize(static_cast<std::size_t>(fit.width) * fit.height * 4);
    libyuv::RGB24ToARGB(rows.first, static_cast<int>(rows.stride), argb_.data(), width * 4, width,
                        picture.rows);
    libyuv::ARGBScale(argb_.data(), width * 4, width, picture.rows, scaled_.data(), fit.width * 4, fit.width,
                      fit.height, libyuv::kFilterBilinear);
    libyuv::ARGBToRGB24(scaled_.data(), fit.width * 4,
                        destination + (static_cast<std::size_t>(fit.y) * MaxWidth + fit.x) * Bytes,
                        MaxWidth * Bytes, fit.width, fit.height);
    return {MaxWidth, MaxHeight};
}

// Brought to planes at the picture's size (I420 as it is), scaled there, and
// converted to B, G, R once, straight into the destination. A packed frame
// holding both fields keeps its chroma on every line (I422): subsampled to
// 4:2:0, each line's colour would be averaged with the other field's.
PlacedSize FramePlacer::placeYuv(const Picture& picture, const CapturedFrame& frame,
                                 std::uint8_t* destination) {
    const int width = picture.width;
    const int rows = picture.rows;
    const bool packed = picture.planeCount == 1;
    const bool chromaEveryLine = packed && picture.bothFields;
    const int chromaWidth = (width + 1) / 2;
    const int chromaRows = chromaEveryLine ? rows : (rows + 1) / 2;
    const auto chromaBytes = static_cast<std::size_t>(chromaWidth) * chromaRows;
    std::array<const std::uint8_t*, 3> plane{picture.planes[0].first, picture.planes[1].first,
                                             picture.planes[2].first};
    std::array<int, 3> stride{static_cast<int>(picture.planes[0].stride),
                              static_cast<int>(picture.planes[1].stride),
                              static_cast<int>(picture.planes[2].stride)};
    if (picture.planeCount < 3) {
        i420_.resize(chromaBytes * 2 + (packed ? static_cast<std::size_t>(width) * rows : 0));
        std::uint8_t* const u = i420_.data();
        std::uint8_t* const v = u + chromaBytes;
        std::uint8_t* const y = v + chromaBytes;
        const Plane& source = picture.planes[packed ? 0 : 1];
        const int from = static_cast<int>(source.stride);
        const bool uyvy = frame.pixelFormat == V4L2_PIX_FMT_UYVY;
        if (!packed) {
            libyuv::SplitUVPlane(source.first, from, u, chromaWidth, v, chromaWidth, chromaWidth, chromaRows);
        } else if (chromaEveryLine) {
            (uyvy ? libyuv::UYVYToI422 : libyuv::YUY2ToI422)(source.first, from, y, width, u, chromaWidth, v,
                                                             chromaWidth, width, rows);
        } else {
            (uyvy ? libyuv::UYVYToI420 : libyuv::YUY2ToI420)(source.first, from, y, width, u, chromaWidth, v,
                                                             chromaWidth, width, rows);
        }
        plane = {packed ? y : plane[0], u, v};
        stride = {packed ? width : stride[0], chromaWidth, chromaWidth};
    }
    const libyuv::YuvConstants* const matrix = matrixOf(frame);
    const auto toBgr = chromaEveryLine ? libyuv::I422ToRGB24Matrix : libyuv::I420ToRGB24Matrix;
    if (asItIs(width, rows, picture.displayLines, frame.fourByThree)) {
        toBgr(plane[0], stride[0], plane[1], stride[1], plane[2], stride[2], destination, width * Bytes,
              matrix, width, rows);
        return {width, rows};
    }
    const FrameRect fit = frame.fourByThree ? FitInFrame(4, 3) : FitInFrame(width, picture.displayLines);
    if (fit.width != MaxWidth || fit.height != MaxHeight) {
        std::memset(destination, 0, MaxFrameBytes);
    }
    // Converted at the fewer of the rows before and after: more rows (a field
    // line-doubled) are made from B, G, R rows, interpolated as bytes.
    const int convertedRows = std::min(rows, fit.height);
    const int fitChromaWidth = (fit.width + 1) / 2;
    const int fitChromaRows = chromaEveryLine ? convertedRows : (convertedRows + 1) / 2;
    const auto fitLuma = static_cast<std::size_t>(fit.width) * convertedRows;
    const auto fitChroma = static_cast<std::size_t>(fitChromaWidth) * fitChromaRows;
    scaled_.resize(fitLuma + fitChroma * 2);
    std::uint8_t* const y = scaled_.data();
    std::uint8_t* const u = y + fitLuma;
    std::uint8_t* const v = u + fitChroma;
    scalePlane(plane[0], stride[0], width, rows, y, fit.width, fit.width, convertedRows);
    scalePlane(plane[1], stride[1], chromaWidth, chromaRows, u, fitChromaWidth, fitChromaWidth,
               fitChromaRows);
    scalePlane(plane[2], stride[2], chromaWidth, chromaRows, v, fitChromaWidth, fitChromaWidth,
               fitChromaRows);
    std::uint8_t* const place = destination + (static_cast<std::size_t>(fit.y) * MaxWidth + fit.x) * Bytes;
    const int line = fit.width * Bytes;
    if (convertedRows == fit.height) {
        toBgr(y, fit.width, u, fitChromaWidth, v, fitChromaWidth, place, MaxWidth * Bytes, matrix, fit.width,
              fit.height);
        return {MaxWidth, MaxHeight};
    }
    argb_.resize(static_cast<std::size_t>(line) * convertedRows);
    toBgr(y, fit.width, u, fitChromaWidth, v, fitChromaWidth, argb_.data(), line, matrix, fit.width,
          convertedRows);
    libyuv::ScalePlane(argb_.data(), line, line, convertedRows, place, MaxWidth * Bytes, line, fit.height,
                       libyuv::kFilterBilinear);
    return {MaxWidth, MaxHeight};
}

// libyuv scales a plane's rows many times faster than its columns (it
// interpolates whole rows, but each pixel of a row on its own), so columns
// are scaled as the rows of the transposed plane, at the fewer of the rows
// before and after.
void FramePlacer::scalePlane(const std::uint8_t* source, int sourceStride, int width, int rows,
                             std::uint8_t* target, int targetStride, int targetWidth, int targetRows) {
    if (targetWidth * 2 < width || targetRows * 2 < rows) {
        // Shrunk to less than half: only box filtering averages every pixel in.
        libyuv::ScalePlane(source, sourceStride, width, rows, target, targetStride, targetWidth, targetRows,
                           libyuv::kFilterBox);
        return;
    }
    if (targetWidth == width) {
        libyuv::ScalePlane(source, sourceStride, width, rows, target, targetStride, targetWidth, targetRows,
                           libyuv::kFilterBilinear);
        return;
    }
    const bool columnsFirst = targetRows >= rows;
    const int narrowRows = columnsFirst ? rows : targetRows;
    const std::uint8_t* narrow = source;
    int narrowStride = sourceStride;
    if (!columnsFirst) {
        rowsScaled_.resize(static_cast<std::size_t>(width) * narrowRows);
        libyuv::ScalePlane(source, sourceStride, width, rows, rowsScaled_.data(), width, width, narrowRows,
                           libyuv::kFilterBilinear);
        narrow = rowsScaled_.data();
        narrowStride = width;
    }
    transposed_.resize(static_cast<std::size_t>(std::max(width, targetWidth)) * narrowRows);
    columns_.resize(static_cast<std::size_t>(targetWidth) * narrowRows);
    libyuv::TransposePlane(narrow, narrowStride, transposed_.data(), narrowRows, width, narrowRows);
    libyuv::ScalePlane(transposed_.data(), narrowRows, narrowRows, width, columns_.data(), narrowRows,
                       narrowRows, targetWidth, libyuv::kFilterBilinear);
    if (narrowRows == targetRows) {
        libyuv::TransposePlane(columns_.data(), narrowRows, target, targetStride, narrowRows, targetWidth);
        return;
    }
    libyuv::TransposePlane(columns_.data(), narrowRows, transposed_.data(), targetWidth, narrowRows,
                           targetWidth);
    libyuv::ScalePlane(transposed_.data(), targetWidth, targetWidth, rows, target, targetStride, targetWidth,
                       targetRows, libyuv::kFilterBilinear);
}

}  // namespace kesmacap
