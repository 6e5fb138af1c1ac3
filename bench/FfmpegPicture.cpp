// What a camera's picture costs the FFmpeg library, per frame: decoding
// 1080p H.264 on one thread or on as many as FFmpeg chooses, 1080p MJPEG at
// full size or at a half (lowres), and placing a decoded 1080p picture in its
// 640 x 360 letterbox as B, G, R: swscale in one pass against libyuv's scale
// then convert. The process's CPU time counts every decoding thread.
#include <benchmark/benchmark.h>
#include <libyuv/convert_argb.h>
#include <libyuv/scale.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "kesmacap/card/Letterbox.h"

namespace {

// Ten seconds of a moving 1080p test picture at 30 fps, made once by the ffmpeg program.
std::string sample(const std::string& name, const std::string& codec) {
    const std::filesystem::path file = std::filesystem::temp_directory_path() / ("quadview-bench-" + name);
    if (!std::filesystem::exists(file)) {
        const std::string command =
            "ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc2=s=1920x1080:r=30:d=10 " + codec + " " +
            file.string();
        if (std::system(command.c_str()) != 0) {
            throw std::runtime_error("cannot make " + file.string() + " with the ffmpeg program");
        }
    }
    return file.string();
}

struct PacketFree {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
struct DecoderFree {
    void operator()(AVCodecContext* decoder) const { avcodec_free_context(&decoder); }
};
struct FrameFree {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
using Packet = std::unique_ptr<AVPacket, PacketFree>;
using Decoder = std::unique_ptr<AVCodecContext, DecoderFree>;
using Frame = std::unique_ptr<AVFrame, FrameFree>;

// A file's video packets, read once, and a decoder for them as the library opens it.
struct Video {
    std::vector<Packet> packets;
    Decoder decoder;
};

Video open(const std::string& file, int threads, int lowres) {
    AVFormatContext* format = nullptr;
    if (avformat_open_input(&format, file.c_str(), nullptr, nullptr) < 0 ||
        avformat_find_stream_info(format, nullptr) < 0) {
        throw std::runtime_error("cannot read " + file);
    }
    const AVCodec* codec = nullptr;
    const int video = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
    Video opened{{}, Decoder(avcodec_alloc_context3(codec))};
    avcodec_parameters_to_context(opened.decoder.get(), format->streams[video]->codecpar);
    opened.decoder->thread_count = threads;
    opened.decoder->lowres = lowres;
    avcodec_open2(opened.decoder.get(), codec, nullptr);
    for (Packet packet(av_packet_alloc()); av_read_frame(format, packet.get()) >= 0;
         packet.reset(av_packet_alloc())) {
        if (packet->stream_index == video) {
            opened.packets.push_back(std::move(packet));
        } else {
            av_packet_unref(packet.get());
        }
    }
    avformat_close_input(&format);
    return opened;
}

// Decodes the file round and round, one packet per iteration.
void decode(benchmark::State& state, const std::string& file, int threads, int lowres) {
    Video video = open(file, threads, lowres);
    const Frame frame(av_frame_alloc());
    std::size_t next = 0;
    for (auto _ : state) {
        if (next == video.packets.size()) {
            avcodec_flush_buffers(video.decoder.get());
            next = 0;
        }
        avcodec_send_packet(video.decoder.get(), video.packets[next++].get());
        while (avcodec_receive_frame(video.decoder.get(), frame.get()) == 0) {
            benchmark::DoNotOptimize(frame->data[0]);
        }
    }
    state.SetItemsProcessed(state.iterations());
}

void H264OneThread(benchmark::State& state) {
    decode(state, sample("h264.mp4", "-c:v libx264 -preset veryfast -g 30"), 1, 0);
}
void H264FfmpegsThreads(benchmark::State& state) {
    decode(state, sample("h264.mp4", "-c:v libx264 -preset veryfast -g 30"), 0, 0);
}
void MjpegFullSize(benchmark::State& state) {
    decode(state, sample("mjpeg.avi", "-c:v mjpeg -q:v 5"), 1, 0);
}
void MjpegAtAHalf(benchmark::State& state) {
    decode(state, sample("mjpeg.avi", "-c:v mjpeg -q:v 5"), 1, 1);
}

// A decoded 1080p 4:2:0 picture and the channel's frame it goes into.
struct Placing {
    Frame picture{av_frame_alloc()};
    std::vector<std::uint8_t> frame = std::vector<std::uint8_t>(kesmacap::MaxFrameBytes);
    kesmacap::FrameRect fit = kesmacap::FitInFrame(1920, 1080);
    std::uint8_t* out() { return frame.data() + (std::size_t(fit.y) * kesmacap::MaxWidth + fit.x) * 3; }

    Placing() {
        picture->width = 1920;
        picture->height = 1080;
        picture->format = AV_PIX_FMT_YUV420P;
        av_frame_get_buffer(picture.get(), 0);
        for (int plane = 0; plane < 3; ++plane) {
            const int rows = plane == 0 ? 1080 : 540;
            for (int y = 0; y < rows; ++y) {
                for (int x = 0; x < picture->linesize[plane]; ++x) {
                    picture->data[plane][y * picture->linesize[plane] + x] = static_cast<std::uint8_t>(x ^ y);
                }
            }
        }
    }
};

void placeWithSwscale(benchmark::State& state, int flags) {
    Placing placing;
    SwsContext* const scaler =
        sws_getContext(1920, 1080, AV_PIX_FMT_YUV420P, placing.fit.width, placing.fit.height,
                       AV_PIX_FMT_BGR24, flags, nullptr, nullptr, nullptr);
    sws_setColorspaceDetails(scaler, sws_getCoefficients(SWS_CS_ITU709), 0,
                             sws_getCoefficients(SWS_CS_DEFAULT), 1, 0, 1 << 16, 1 << 16);
    std::uint8_t* const planes[4] = {placing.out()};
    const int strides[4] = {kesmacap::MaxWidth * 3};
    for (auto _ : state) {
        sws_scale(scaler, placing.picture->data, placing.picture->linesize, 0, 1080, planes, strides);
        benchmark::ClobberMemory();
    }
    sws_freeContext(scaler);
}

void SwscaleBilinear(benchmark::State& state) {
    placeWithSwscale(state, SWS_BILINEAR);
}
void SwscaleFastBilinear(benchmark::State& state) {
    placeWithSwscale(state, SWS_FAST_BILINEAR);
}

void LibyuvScaleThenConvert(benchmark::State& state) {
    Placing placing;
    const int width = placing.fit.width;
    const int height = placing.fit.height;
    std::vector<std::uint8_t> scaled(std::size_t(width) * height * 3 / 2);
    std::uint8_t* const y = scaled.data();
    std::uint8_t* const u = y + std::size_t(width) * height;
    std::uint8_t* const v = u + std::size_t(width) * height / 4;
    const AVFrame& in = *placing.picture;
    for (auto _ : state) {
        libyuv::I420Scale(in.data[0], in.linesize[0], in.data[1], in.linesize[1], in.data[2], in.linesize[2],
                          1920, 1080, y, width, u, width / 2, v, width / 2, width, height,
                          static_cast<libyuv::FilterMode>(state.range(0)));
        libyuv::I420ToRGB24Matrix(y, width, u, width / 2, v, width / 2, placing.out(), kesmacap::MaxWidth * 3,
                                  &libyuv::kYuvH709Constants, width, height);
        benchmark::ClobberMemory();
    }
}

}  // namespace

BENCHMARK(H264OneThread)->MeasureProcessCPUTime()->UseRealTime();
BENCHMARK(H264FfmpegsThreads)->MeasureProcessCPUTime()->UseRealTime();
BENCHMARK(MjpegFullSize)->MeasureProcessCPUTime()->UseRealTime();
BENCHMARK(MjpegAtAHalf)->MeasureProcessCPUTime()->UseRealTime();
BENCHMARK(SwscaleBilinear);
BENCHMARK(SwscaleFastBilinear);
// Bilinear (which libyuv turns into point sampling at exactly a third), and box (three times the cost).
BENCHMARK(LibyuvScaleThenConvert)->Arg(libyuv::kFilterBilinear)->Arg(libyuv::kFilterBox);

BENCHMARK_MAIN();
