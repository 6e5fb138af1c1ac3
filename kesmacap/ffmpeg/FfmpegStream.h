// One source as FFmpeg opens it: its demuxer and the decoder of its video,
// read from one camera's thread. Every call may block on the network, for as
// long as the interrupt callback it was opened with allows.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "kesmacap/ffmpeg/FfmpegTarget.h"

namespace kesmacap {

class FfmpegStream {
  public:
    FfmpegStream() = default;
    FfmpegStream(const FfmpegStream&) = delete;
    FfmpegStream& operator=(const FfmpegStream&) = delete;

    // Opens the target, reads what it holds and opens the decoder of its
    // video. Returns 0 or an AVERROR (AVERROR_EXIT when interrupted), with
    // FFmpeg's text for it, or the codec's name, in `detail`.
    int open(const FfmpegTarget& target, const AVIOInterruptCB& interrupt, std::string& detail);

    // Reads until the decoder gives a picture: 0 with `frame` filled, or an
    // AVERROR (AVERROR_EOF once the decoder has given its last picture). A
    // packet or picture the decoder finds damaged is passed over.
    int next(AVFrame& frame);
    // Seeks back to the start; false when the source cannot.
    bool rewind();

    // "h264, 1920 x 1080": what the source sends.
    std::string describe() const;
    // The demuxer's name (rtsp, mpjpeg, "mov,mp4,m4a,3gp,3g2,mj2").
    std::string_view format() const;
    // Whether its bytes can be sought (a file, an HTTP server that takes ranges).
    bool seekable() const;
    // A frame's time in seconds, from its timestamp; none without one.
    std::optional<double> secondsOf(const AVFrame& frame) const;

  private:
    struct FormatClose {
        void operator()(AVFormatContext* format) const { avformat_close_input(&format); }
    };
    struct DecoderFree {
        void operator()(AVCodecContext* decoder) const { avcodec_free_context(&decoder); }
    };
    struct PacketFree {
        void operator()(AVPacket* packet) const { av_packet_free(&packet); }
    };

    // Declared first so it goes last: the decoder is freed before the demuxer closes.
    std::unique_ptr<AVFormatContext, FormatClose> format_;
    std::unique_ptr<AVCodecContext, DecoderFree> decoder_;
    std::unique_ptr<AVPacket, PacketFree> packet_{av_packet_alloc()};
    int video_ = -1;
    bool draining_ = false;  // the source is at its end: the decoder gives what it holds
};

}  // namespace kesmacap
