#include "kesmacap/ffmpeg/PicturePainter.h"

#include <cstring>

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

// Paints what a picture at `fit` leaves of the frame black.
void paintBars(std::uint8_t* frame, const FrameRect& fit) {
    constexpr std::size_t Row = std::size_t{MaxWidth} * BytesPerPixel;
    std::memset(frame, 0, Row * static_cast<std::size_t>(fit.y));
    const int below = fit.y + fit.height;
    std::memset(frame + Row * static_cast<std::size_t>(below), 0,
                Row * static_cast<std::size_t>(MaxHeight - below));
    const auto left = static_cast<std::size_t>(fit.x) * BytesPerPixel;
    const std::size_t right = Row - left - static_cast<std::size_t>(fit.width) * BytesPerPixel;
    if (left + right > 0) {
        for (int y = fit.y; y < below; ++y) {
            std::uint8_t* const row = frame + Row * static_cast<std::size_t>(y);
            std::memset(row, 0, left);
            std::memset(row + Row - right, 0, right);
        }
    }
}

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
    if (!scaler_ || input != input_ || fit != fit_) {
        scaler_.reset(sws_getContext(frame.width, frame.height, static_cast<AVPixelFormat>(input.format),
                                     fit.width, fit.height, AV_PIX_FMT_BGR24, SWS_BILINEAR, nullptr, nullptr,
                                     nullptr));
        input_ = input;
        fit_ = fit;
        if (!scaler_) {
            return;  // a format swscale cannot read: no picture
        }
        // The decoder's matrix (BT.601 when it names none), into full-range B, G, R.
        sws_setColorspaceDetails(scaler_.get(), sws_getCoefficients(input.colourSpace),
                                 input.fullRange ? 1 : 0, sws_getCoefficients(SWS_CS_DEFAULT), 1, 0, 1 << 16,
                                 1 << 16);
    }
    std::uint8_t* const out = channel_.backBuffer();
    paintBars(out, fit_);
    std::uint8_t* const planes[4] = {
        out +
        (static_cast<std::size_t>(fit_.y) * MaxWidth + static_cast<std::size_t>(fit_.x)) * BytesPerPixel};
    const int strides[4] = {MaxWidth * BytesPerPixel};
    sws_scale(scaler_.get(), frame.data, frame.linesize, 0, frame.height, planes, strides);
    channel_.publish(MaxWidth, MaxHeight);
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
