#include "kesmacap/ffmpeg/FfmpegSource.h"

extern "C" {
#include <libavformat/avformat.h>
}

#include <mutex>

#include "kesmacap/ffmpeg/FfmpegLog.h"

namespace kesmacap {

FfmpegSource::FfmpegSource(Channels& channels, const Sources& sources) {
    static std::once_flag once;
    std::call_once(once, [] {
        RouteFfmpegLog();
        // Sockets (WSAStartup on Windows) and TLS, once per process.
        avformat_network_init();
    });
    // A missing camera is to be added to the file that was read: a user file
    // replaces the system's whole.
    const std::string file = sources.file.empty() ? UserSourcesFile() : sources.file;
    for (int channel = 0; channel < ChannelCount; ++channel) {
        cameras_[channel] =
            std::make_unique<FfmpegCamera>(channels[channel], channel, sources.uris[channel], file);
    }
}

FfmpegSource::~FfmpegSource() {
    // All four close their sources at once: at most about one CloseLimit in all.
    for (const auto& camera : cameras_) {
        camera->quit();
    }
}

std::int32_t FfmpegSource::open(int /*channel*/) {
    return 0;
}

void FfmpegSource::close(int channel) {
    stop(channel);
}

std::int32_t FfmpegSource::start(int channel) {
    cameras_[channel]->start();
    return 0;
}

void FfmpegSource::stop(int channel) {
    cameras_[channel]->stop();
}

}  // namespace kesmacap
