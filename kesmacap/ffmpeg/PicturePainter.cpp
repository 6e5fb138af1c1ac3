#include "kesmacap/ffmpeg/PicturePainter.h"

#ifdef KESMACAP_FFMPEG_LIBYUV
#include <libyuv/scale.h>

#include "kesmacap/pictures/YuvMatrix.h"
#endif

#include "kesmacap/pictures/StatusPicture.h"

namespace kesmacap {

namespace {

// JPEG's full-range formats, which swscale wants named as the plain ones
// with the range told apart (it warns of each scaler made for them otherwise).
AVPixelFormat plainFormat(AVPixelFormat format, bool& fullRange) {
    switch (format) {
        case AV_PIX_FMT_YUVJ420P:
            fullRange = true;
            return AV_PIX_FMT_YUV420P;
        case AV_PIX_FMT_YUVJ422P:
            fullRange = true;
            return AV_PIX_FMT_YUV422P;
        case AV_PIX_FMT_YUVJ444P:
            fullRange = true;
            return AV_PIX_FMT_YUV444P;
        case AV_PIX_FMT_YUVJ440P:
            fullRange = true;
            return AV_PIX_FMT_YUV440P;
        case AV_PIX_FMT_YUVJ411P:
            fullRange = true;
            return AV_PIX_FMT_YUV411P;
        default:
            return format;
    }
}

#ifdef KESMACAP_FFMPEG_LIBYUV
// The colours a decoder's YUV means, as libyuv names them.
const libyuv::YuvConstants* coloursOf(int colourSpace, bool fullRange) {
    switch (colourSpace) {
        case AVCOL_SPC_BT709:
            return YuvConstantsFor(YuvMatrix::Bt709, fullRange);
        case AVCOL_SPC_BT2020_NCL:
        case AVCOL_SPC_BT2020_CL:
            return YuvConstantsFor(YuvMatrix::Bt2020, fullRange);
        default:
            return YuvConstantsFor(YuvMatrix::Bt601, fullRange);
    }
}
#endif

}  // namespace

PicturePainter::PicturePainter(Channel& channel, int index) : channel_(channel), index_(index) {}

void PicturePainter::paint(const AVFrame& frame) {
    const AVRational aspect = frame.sample_aspect_ratio.num > 0 && frame.sample_aspect_ratio.den > 0
                                  ? frame.sample_aspect_ratio
                                  : AVRational{1, 1};
    const FrameRect fit = FitInFrame(frame.width, frame.height, aspect.num, aspect.den);
    if (fit.width == 0 || frame.data[0] == nullptr) {
        return;
    }
    Input input{frame.width, frame.height, -1, frame.colorspace, frame.color_range == AVCOL_RANGE_JPEG};
    input.format = plainFormat(static_cast<AVPixelFormat>(frame.format), input.fullRange);
    const bool changed = input != input_ || fit != fit_;
    input_ = input;
    fit_ = fit;
    std::uint8_t* const out = channel_.backBuffer();
    std::uint8_t* const at =
        out +
        (static_cast<std::size_t>(fit_.y) * MaxWidth + static_cast<std::size_t>(fit_.x)) * BytesPerPixel;
    if (placeYuv(frame, at) || placeScaled(frame, at, changed)) {
        PaintBars(out, fit_);
        channel_.publish(MaxWidth, MaxHeight);
    }
}

bool PicturePainter::placeYuv([[maybe_unused]] const AVFrame& frame, [[maybe_unused]] std::uint8_t* at) {
#ifdef KESMACAP_FFMPEG_LIBYUV
    const bool i420 = input_.format == AV_PIX_FMT_YUV420P;
    if (!i420 && input_.format != AV_PIX_FMT_YUV422P) {
        return false;
    }
    const std::uint8_t* planes[3] = {frame.data[0], frame.data[1], frame.data[2]};
    int strides[3] = {frame.linesize[0], frame.linesize[1], frame.linesize[2]};
    if (fit_.width != frame.width || fit_.height != frame.height) {
        // Scaled in the decoder's planes first: a half or a third of the bytes of B, G, R.
        const std::size_t luma = static_cast<std::size_t>(fit_.width) * static_cast<std::size_t>(fit_.height);
        const std::size_t chroma = luma / (i420 ? 4 : 2);
        scaled_.resize(luma + 2 * chroma);
        std::uint8_t* const y = scaled_.data();
        std::uint8_t* const u = y + luma;
        std::uint8_t* const v = u + chroma;
        const int half = fit_.width / 2;
        (i420 ? libyuv::I420Scale : libyuv::I422Scale)(
            planes[0], strides[0], planes[1], strides[1], planes[2], strides[2], frame.width, frame.height, y,
            fit_.width, u, half, v, half, fit_.width, fit_.height, libyuv::kFilterBilinear);
        planes[0] = y;
        planes[1] = u;
        planes[2] = v;
        strides[0] = fit_.width;
        strides[1] = strides[2] = half;
    }
    // libyuv's RGB24 is B, G, R in memory: the channel's own order.
    (i420 ? libyuv::I420ToRGB24Matrix : libyuv::I422ToRGB24Matrix)(
        planes[0], strides[0], planes[1], strides[1], planes[2], strides[2], at, MaxWidth * BytesPerPixel,
        coloursOf(input_.colourSpace, input_.fullRange), fit_.width, fit_.height);
    return true;
#else
    return false;
#endif
}

bool PicturePainter::placeScaled(const AVFrame& frame, std::uint8_t* at, bool changed) {
    if (!scaler_ || changed) {
        scaler_.reset(sws_getContext(frame.width, frame.height, static_cast<AVPixelFormat>(input_.format),
                                     fit_.width, fit_.height, AV_PIX_FMT_BGR24, SWS_BILINEAR, nullptr,
                                     nullptr, nullptr));
        if (!scaler_) {
            return false;  // a format swscale cannot read: no picture
        }
        // The decoder's matrix (BT.601 when it names none), into full-range B, G, R.
        sws_setColorspaceDetails(scaler_.get(), sws_getCoefficients(input_.colourSpace),
                                 input_.fullRange ? 1 : 0, sws_getCoefficients(SWS_CS_DEFAULT), 1, 0, 1 << 16,
                                 1 << 16);
    }
    std::uint8_t* const planes[4] = {at};
    const int strides[4] = {MaxWidth * BytesPerPixel};
    sws_scale(scaler_.get(), frame.data, frame.linesize, 0, frame.height, planes, strides);
    return true;
}

void PicturePainter::paintStatus(std::string_view reason, std::string_view source) {
    DrawStatusPicture(channel_.backBuffer(), index_, reason, source);
    channel_.publish(MaxWidth, MaxHeight);
}

std::string PicturePainter::sizes() const {
    return std::to_string(input_.width) + " x " + std::to_string(input_.height) + ", shown as " +
           std::to_string(fit_.width) + " x " + std::to_string(fit_.height);
}

}  // namespace kesmacap
