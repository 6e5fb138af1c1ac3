#include "kesmacap/ffmpeg/FfmpegStream.h"

#include "kesmacap/ffmpeg/StreamRules.h"

namespace kesmacap {

namespace {

// One decoding thread per camera: four cameras keep the cores busy, and
// frame threads would hold each picture back by a frame per thread.
constexpr int DecoderThreads = 1;

}  // namespace

int FfmpegStream::open(const FfmpegTarget& target, const AVIOInterruptCB& interrupt, std::string& detail) {
    if (!packet_) {
        return AVERROR(ENOMEM);
    }
    AVFormatContext* format = avformat_alloc_context();
    if (format == nullptr) {
        return AVERROR(ENOMEM);
    }
    format->interrupt_callback = interrupt;
    AVDictionary* options = nullptr;
    for (const auto& [key, value] : target.options) {
        av_dict_set(&options, key.c_str(), value.c_str(), 0);
    }
    // Frees the context when it fails.
    int error = avformat_open_input(&format, target.url.c_str(), nullptr, &options);
    av_dict_free(&options);
    if (error < 0) {
        detail = ErrorText(error);
        return error;
    }
    format_.reset(format);
    if (error = avformat_find_stream_info(format, nullptr); error < 0) {
        detail = ErrorText(error);
        return error;
    }
    // Cut short, it says what it found so far as if that were all.
    if (interrupt.callback != nullptr && interrupt.callback(interrupt.opaque) != 0) {
        return AVERROR_EXIT;
    }
    const AVCodec* codec = nullptr;
    video_ = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
    if (video_ == AVERROR_DECODER_NOT_FOUND) {
        const int first = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
        detail = first >= 0 ? avcodec_get_name(format->streams[first]->codecpar->codec_id) : "its video";
        return AVERROR_DECODER_NOT_FOUND;
    }
    if (video_ < 0) {
        detail = ErrorText(video_);
        return video_;
    }
    for (unsigned stream = 0; stream < format->nb_streams; ++stream) {
        if (static_cast<int>(stream) != video_) {
            format->streams[stream]->discard = AVDISCARD_ALL;  // not even read into packets
        }
    }
    const AVStream& video = *format->streams[video_];
    decoder_.reset(avcodec_alloc_context3(codec));
    if (!decoder_ || (error = avcodec_parameters_to_context(decoder_.get(), video.codecpar)) < 0) {
        detail = ErrorText(decoder_ ? error : AVERROR(ENOMEM));
        return decoder_ ? error : AVERROR(ENOMEM);
    }
    decoder_->thread_count = DecoderThreads;
    decoder_->pkt_timebase = video.time_base;
    const AVRational aspect =
        video.codecpar->sample_aspect_ratio.num > 0 ? video.codecpar->sample_aspect_ratio : AVRational{1, 1};
    decoder_->lowres =
        LowresFor(video.codecpar->width, video.codecpar->height, aspect.num, aspect.den, codec->max_lowres);
    if (error = avcodec_open2(decoder_.get(), codec, nullptr); error < 0) {
        detail = ErrorText(error);
        return error;
    }
    return 0;
}

int FfmpegStream::next(AVFrame& frame) {
    for (;;) {
        const int received = avcodec_receive_frame(decoder_.get(), &frame);
        if (received == 0 || received == AVERROR_EOF) {
            return received;
        }
        if (DecoderErrorEndsStream(received)) {
            return received;
        }
        if (draining_) {
            return AVERROR_EOF;
        }
        const int read = av_read_frame(format_.get(), packet_.get());
        if (read == AVERROR_EOF) {
            draining_ = true;
            avcodec_send_packet(decoder_.get(), nullptr);
            continue;
        }
        if (read < 0) {
            return read;
        }
        const int sent =
            packet_->stream_index == video_ ? avcodec_send_packet(decoder_.get(), packet_.get()) : 0;
        av_packet_unref(packet_.get());
        if (sent < 0 && DecoderErrorEndsStream(sent)) {
            return sent;
        }
    }
}

bool FfmpegStream::rewind() {
    const std::int64_t start = format_->start_time != AV_NOPTS_VALUE ? format_->start_time : 0;
    if (!seekable() || avformat_seek_file(format_.get(), -1, INT64_MIN, start, start, 0) < 0) {
        return false;
    }
    avcodec_flush_buffers(decoder_.get());
    draining_ = false;
    return true;
}

std::string FfmpegStream::describe() const {
    const AVCodecParameters& video = *format_->streams[video_]->codecpar;
    return std::string(avcodec_get_name(video.codec_id)) + ", " + std::to_string(video.width) + " x " +
           std::to_string(video.height);
}

std::string_view FfmpegStream::format() const {
    return format_->iformat->name;
}

bool FfmpegStream::seekable() const {
    return format_->pb != nullptr && (format_->pb->seekable & AVIO_SEEKABLE_NORMAL) != 0;
}

std::optional<double> FfmpegStream::secondsOf(const AVFrame& frame) const {
    if (frame.best_effort_timestamp == AV_NOPTS_VALUE) {
        return std::nullopt;
    }
    return static_cast<double>(frame.best_effort_timestamp) * av_q2d(format_->streams[video_]->time_base);
}

}  // namespace kesmacap
