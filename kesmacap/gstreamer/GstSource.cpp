#include "kesmacap/gstreamer/GstSource.h"

#include <gst/gst.h>

#include <mutex>

#include "kesmacap/pictures/StatusPicture.h"

namespace kesmacap {

bool StartGstreamer(std::string& why) {
    static std::once_flag once;
    static bool started = false;
    static std::string failure;
    std::call_once(once, [] {
        GError* error = nullptr;
        started = gst_init_check(nullptr, nullptr, &error) != FALSE;
        if (!started) {
            failure = error != nullptr ? error->message : "no reason given";
        }
        g_clear_error(&error);
    });
    why = failure;
    return started;
}

GstSource::GstSource(Channels& channels, const Sources& sources, std::string gstreamerFailure)
    : channels_(channels), gstreamerFailure_(std::move(gstreamerFailure)) {
    if (!gstreamerFailure_.empty()) {
        return;
    }
    // A missing camera is to be added to the file that was read: a user file
    // replaces the system's whole.
    const std::string file = sources.file.empty() ? UserSourcesFile() : sources.file;
    for (int channel = 0; channel < ChannelCount; ++channel) {
        cameras_[channel] =
            std::make_unique<GstCamera>(channels[channel], channel, sources.uris[channel], file);
    }
}

std::int32_t GstSource::open(int /*channel*/) {
    return 0;
}

void GstSource::close(int channel) {
    stop(channel);
}

std::int32_t GstSource::start(int channel) {
    if (cameras_[channel]) {
        cameras_[channel]->start();
    } else {
        DrawStatusPicture(channels_[channel].backBuffer(), channel,
                          "GStreamer cannot start: " + gstreamerFailure_, "no source");
        channels_[channel].publish(MaxWidth, MaxHeight);
    }
    return 0;
}

void GstSource::stop(int channel) {
    if (cameras_[channel]) {
        cameras_[channel]->stop();
    }
}

}  // namespace kesmacap
