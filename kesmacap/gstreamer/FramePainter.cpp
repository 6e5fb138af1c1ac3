#include "kesmacap/gstreamer/FramePainter.h"

#include <gst/video/video.h>
#include <libyuv/convert_argb.h>
#include <libyuv/scale.h>


#include "kesmacap/pictures/StatusPicture.h"
#include "kesmacap/pictures/YuvMatrix.h"

namespace kesmacap {

namespace {

// The colours a decoder's YUV means, as libyuv names them.
const libyuv::YuvConstants* coloursOf(const GstVideoColorimetry& colours) {
    const bool full = colours.range == GST_VIDEO_COLOR_RANGE_0_255;
    switch (colours.matrix) {
        case GST_VIDEO_COLOR_MATRIX_BT709:
            return YuvConstantsFor(YuvMatrix::Bt709, full);
        case GST_VIDEO_COLOR_MATRIX_BT2020:
            return YuvConstantsFor(YuvMatrix::Bt2020, full);
        default:
            return YuvConstantsFor(YuvMatrix::Bt601, full);
    }
}

}  // namespace

FramePainter::FramePainter(Channel& channel, int index) : channel_(channel), index_(index) {}

void FramePainter::paint(GstSample* sample) {
    GstVideoInfo info;
    GstVideoFrame frame;
    if (!gst_video_info_from_caps(&info, gst_sample_get_caps(sample)) ||
        !gst_video_frame_map(&frame, &info, gst_sample_get_buffer(sample), GST_MAP_READ)) {
        return;
    }
    const int width = GST_VIDEO_FRAME_WIDTH(&frame);
    const int height = GST_VIDEO_FRAME_HEIGHT(&frame);
    const std::uint8_t* planes[3];
    int strides[3];
    for (int plane = 0; plane < 3; ++plane) {
        planes[plane] = static_cast<const std::uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, plane));
        strides[plane] = GST_VIDEO_FRAME_PLANE_STRIDE(&frame, plane);
    }
    {
        // Held throughout: the planes and the frame are shared with the next
        // pipeline's streaming thread and with the status pictures.
        const std::lock_guard lock(mutex_);
        inputWidth_ = width;
        inputHeight_ = height;
        fit_ = FitInFrame(width, height, GST_VIDEO_INFO_PAR_N(&info), GST_VIDEO_INFO_PAR_D(&info));
        if (fit_.width != width || fit_.height != height) {
            // Scaled in the decoder's planes first: a quarter of the bytes of B, G, R.
            const std::size_t luma = static_cast<std::size_t>(fit_.width) * fit_.height;
            scaled_.resize(luma + luma / 2);
            std::uint8_t* const y = scaled_.data();
            std::uint8_t* const u = y + luma;
            std::uint8_t* const v = u + luma / 4;
            libyuv::I420Scale(planes[0], strides[0], planes[1], strides[1], planes[2], strides[2], width,
                              height, y, fit_.width, u, fit_.width / 2, v, fit_.width / 2, fit_.width,
                              fit_.height, libyuv::kFilterBilinear);
            planes[0] = y;
            planes[1] = u;
            planes[2] = v;
            strides[0] = fit_.width;
            strides[1] = strides[2] = fit_.width / 2;
        }
        std::uint8_t* const out = channel_.backBuffer();
        PaintBars(out, fit_);
        // libyuv's RGB24 is B, G, R in memory: the channel's own order.
        libyuv::I420ToRGB24Matrix(
            planes[0], strides[0], planes[1], strides[1], planes[2], strides[2],
            out + (static_cast<std::size_t>(fit_.y) * MaxWidth + fit_.x) * BytesPerPixel,
            MaxWidth * BytesPerPixel, coloursOf(GST_VIDEO_INFO_COLORIMETRY(&info)), fit_.width, fit_.height);
        channel_.publish(MaxWidth, MaxHeight);
    }
    gst_video_frame_unmap(&frame);
}

void FramePainter::paintStatus(std::string_view reason, std::string_view source) {
    const std::lock_guard lock(mutex_);
    DrawStatusPicture(channel_.backBuffer(), index_, reason, source);
    channel_.publish(MaxWidth, MaxHeight);
}

std::string FramePainter::sizes() const {
    const std::lock_guard lock(mutex_);
    return std::to_string(inputWidth_) + " x " + std::to_string(inputHeight_) + ", shown as " +
           std::to_string(fit_.width) + " x " + std::to_string(fit_.height);
}

}  // namespace kesmacap
