#include "kesmacap/gstreamer/GstSource.h"

#include <gst/gst.h>

#include <mutex>

namespace kesmacap {

bool StartGstreamer(std::string& why) {
    static std::once_flag once;
    static bool started = false;
    static std::string failure;
    std::call_once(once, [] {
        GError* error = nullptr;
        started = gst_init_check(nullptr, nullptr, &error) != FALSE;
        if (!started) {
            failure = error != nullptr ? error->message : "GStreamer cannot start";
        }
        g_clear_error(&error);
    });
    why = failure;
    return started;
}

GstSource::GstSource(Channels& channels, const Sources& sources) {
    for (int channel = 0; channel < ChannelCount; ++channel) {
        cameras_[channel] = std::make_unique<GstCamera>(channels[channel], channel, sources.uris[channel]);
    }
}

std::int32_t GstSource::open(int /*channel*/) {
    return 0;
}

void GstSource::close(int channel) {
    cameras_[channel]->stop();
}

std::int32_t GstSource::start(int channel) {
    cameras_[channel]->start();
    return 0;
}

void GstSource::stop(int channel) {
    cameras_[channel]->stop();
}

}  // namespace kesmacap
