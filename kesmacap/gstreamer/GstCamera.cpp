#include "kesmacap/gstreamer/GstCamera.h"

#include <gst/app/gstappsink.h>
#include <gst/pbutils/missing-plugins.h>
#include <gst/video/video.h>
#include <libyuv/convert_argb.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "kesmacap/gstreamer/SourcesFile.h"
#include "kesmacap/gstreamer/StatusPicture.h"
#include "kesmacap/gstreamer/ThreadEdges.h"

namespace kesmacap {

namespace {

using namespace std::chrono_literals;

constexpr auto Poll = 100ms;

std::string clockTime(std::chrono::system_clock::time_point when) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[16];
    std::strftime(text, sizeof text, "%H:%M:%S", &local);
    return text;
}

// Replaces every occurrence of `secret` in text.
std::string without(std::string text, const std::string& secret) {
    if (secret.empty()) {
        return text;
    }
    for (auto at = text.find(secret); at != std::string::npos; at = text.find(secret, at + 3)) {
        text.replace(at, secret.size(), "***");
    }
    return text;
}

// The decoded picture's size and format, as the converter receives it.
std::string inputOf(GstElement* pipeline) {
    GstElement* const convert = gst_bin_get_by_name(GST_BIN(pipeline), "convert");
    std::string text = "video";
    if (convert != nullptr) {
        GstPad* const pad = gst_element_get_static_pad(convert, "sink");
        if (GstCaps* const caps = gst_pad_get_current_caps(pad); caps != nullptr) {
            GstVideoInfo info;
            if (gst_video_info_from_caps(&info, caps)) {
                text = std::to_string(info.width) + " x " + std::to_string(info.height) + " " +
                       gst_video_format_to_string(GST_VIDEO_INFO_FORMAT(&info));
            }
            gst_caps_unref(caps);
        }
        gst_object_unref(pad);
        gst_object_unref(convert);
    }
    return text;
}

}  // namespace

void GstCamera::PipelineDeleter::operator()(GstElement* pipeline) const {
    // Waits for the streaming threads: no frame arrives from it afterwards.
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(pipeline);
}

GstCamera::GstCamera(Channel& channel, int index, std::optional<std::string> uri)
    : channel_(channel),
      index_(index),
      uri_(std::move(uri)),
      shown_(uri_ ? MaskCredentials(*uri_) : std::string()),
      credentials_(uri_ ? CredentialsOf(*uri_) : std::string()),
      live_(!uri_ || uri_->rfind("file:", 0) != 0),
      thread_([this] { run(); }) {}

GstCamera::~GstCamera() {
    {
        const std::lock_guard lock(mutex_);
        quit_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

void GstCamera::start() {
    {
        const std::lock_guard lock(mutex_);
        wanted_ = true;
        ++generation_;
    }
    changed_.notify_all();
}

void GstCamera::stop() {
    {
        const std::lock_guard lock(mutex_);
        wanted_ = false;
    }
    changed_.notify_all();
}

void GstCamera::run() {
    std::unique_lock lock(mutex_);
    while (!quit_) {
        const bool wanted = wanted_;
        const unsigned generation = generation_;
        lock.unlock();
        if (!wanted) {
            tearDown();
            state_ = State::Idle;
        } else {
            if (generation != served_) {
                // A new start: from the beginning, at once.
                served_ = generation;
                tearDown();
                state_ = State::Idle;
                backoff_ = FirstRetry;
                retryAt_ = Clock::now();
                shownReason_.clear();
                everSeen_ = false;
                lastSeen_ = std::chrono::system_clock::now();
            }
            serve(Clock::now());
        }
        lock.lock();
        const auto unchanged = [&] { return !quit_ && wanted_ == wanted && generation_ == generation; };
        if (wanted) {
            changed_.wait_for(lock, Poll, [&] { return !unchanged(); });
        } else {
            changed_.wait(lock, [&] { return !unchanged(); });
        }
    }
    lock.unlock();
    tearDown();
}

void GstCamera::tearDown() {
    pipeline_.reset();
    // The streaming threads have ended: what they did is this thread's to see.
    TakeOver(this);
}

void GstCamera::serve(Clock::time_point now) {
    if (!uri_) {
        if (state_ != State::NotConfigured) {
            state_ = State::NotConfigured;
            showStatus("not configured: add Camera" + std::to_string(index_ + 1) +
                       " = ... to ~/.config/quadview/sources");
        }
        return;
    }
    if (!pipeline_ && now >= retryAt_) {
        build(now);
    }
    if (pipeline_) {
        noteFrames(now);
        readBus(now);
    }
    if (pipeline_ && now - std::max(lastFrame(), builtAt_) > Silence) {
        lose("no signal since " + clockTime(lastSeen_), now);
    }
}

void GstCamera::build(Clock::time_point now) {
    if (state_ == State::Idle) {
        state_ = State::Connecting;
        showStatus("connecting...");
    }
    Pipeline pipeline(gst_pipeline_new(nullptr));
    GstElement* const decoder = gst_element_factory_make("uridecodebin", nullptr);
    GstElement* const convert = gst_element_factory_make("videoconvert", "convert");
    GstElement* const scale = gst_element_factory_make("videoscale", nullptr);
    GstElement* const filter = gst_element_factory_make("capsfilter", nullptr);
    GstElement* const sink = gst_element_factory_make("appsink", "sink");
    GstElement* const elements[] = {decoder, convert, scale, filter, sink};
    if (!pipeline || std::find(std::begin(elements), std::end(elements), nullptr) != std::end(elements)) {
        for (GstElement* const element : elements) {
            if (element != nullptr) {
                gst_object_unref(gst_object_ref_sink(element));
            }
        }
        lose("cannot play: GStreamer's base plugins are missing (install gstreamer1.0-plugins-base)", now);
        return;
    }
    g_object_set(decoder, "uri", uri_->c_str(), nullptr);
    g_object_set(scale, "add-borders", TRUE, nullptr);
    // Scaled in the decoder's own planar format, turned into B, G, R once, on the way into the channel.
    GstCaps* const caps = gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "I420", "width",
                                              G_TYPE_INT, MaxWidth, "height", G_TYPE_INT, MaxHeight,
                                              "pixel-aspect-ratio", GST_TYPE_FRACTION, 1, 1, nullptr);
    g_object_set(filter, "caps", caps, nullptr);
    gst_caps_unref(caps);
    // The newest frame only; a file at its own rate, a camera as fast as it comes.
    g_object_set(sink, "max-buffers", 1u, "drop", TRUE, "sync", live_ ? FALSE : TRUE, nullptr);
    GstAppSinkCallbacks callbacks{};
    callbacks.new_sample = [](GstAppSink* appSink, gpointer camera) {
        return onSample(GST_ELEMENT(appSink), camera);
    };
    gst_app_sink_set_callbacks(GST_APP_SINK(sink), &callbacks, this, nullptr);
    gst_bin_add_many(GST_BIN(pipeline.get()), decoder, convert, scale, filter, sink, nullptr);
    gst_element_link_many(convert, scale, filter, sink, nullptr);
    g_signal_connect(decoder, "pad-added", G_CALLBACK(onPadAdded), convert);
    g_signal_connect(decoder, "source-setup", G_CALLBACK(onSourceSetup), this);
    lastFrame_.store(0);
    builtAt_ = now;
    pipeline_ = std::move(pipeline);
    HandOver(this);
    if (gst_element_set_state(pipeline_.get(), GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        readBus(now);  // the error says why
        if (pipeline_) {
            lose("cannot play " + shown_, now);
        }
    }
}

void GstCamera::readBus(Clock::time_point now) {
    GstBus* const bus = gst_element_get_bus(pipeline_.get());
    std::string lost;
    std::string missing;
    while (GstMessage* const message = gst_bus_pop(bus)) {
        switch (GST_MESSAGE_TYPE(message)) {
            case GST_MESSAGE_ERROR: {
                GError* error = nullptr;
                gst_message_parse_error(message, &error, nullptr);
                if (lost.empty()) {
                    lost = without(error != nullptr ? error->message : "error", credentials_);
                }
                g_clear_error(&error);
                break;
            }
            case GST_MESSAGE_EOS:
                // A file plays again from its start; a camera's stream that ends is lost.
                if (live_ ||
                    !gst_element_seek_simple(
                        pipeline_.get(), GST_FORMAT_TIME,
                        static_cast<GstSeekFlags>(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_KEY_UNIT), 0)) {
                    lost = lost.empty() ? "the stream ended" : lost;
                }
                break;
            case GST_MESSAGE_ELEMENT:
                if (gst_is_missing_plugin_message(message)) {
                    gchar* const description = gst_missing_plugin_message_get_description(message);
                    missing = description != nullptr ? description : "this stream";
                    g_free(description);
                }
                break;
            default:
                break;
        }
        gst_message_unref(message);
    }
    gst_object_unref(bus);
    if (!missing.empty()) {
        lose("cannot decode " + missing + ": install gstreamer1.0-libav", now);
    } else if (!lost.empty()) {
        lose(everSeen_ ? "no signal since " + clockTime(lastSeen_) + " (" + lost + ")"
                       : "cannot connect: " + lost,
             now);
    }
}

GstCamera::Clock::time_point GstCamera::lastFrame() const {
    return Clock::time_point{Clock::duration(lastFrame_.load())};
}

void GstCamera::noteFrames(Clock::time_point now) {
    const Clock::time_point last = lastFrame();
    if (last >= builtAt_) {
        lastSeen_ = std::chrono::system_clock::now() -
                    std::chrono::duration_cast<std::chrono::system_clock::duration>(now - last);
        everSeen_ = true;
        if (state_ != State::Live) {
            state_ = State::Live;
            backoff_ = FirstRetry;
            shownReason_.clear();
            report("connected to " + shown_ + ": " + inputOf(pipeline_.get()) + ", shown as 640 x 480");
        }
    }
}

void GstCamera::lose(const std::string& reason, Clock::time_point now) {
    tearDown();
    if (state_ != State::Lost) {
        state_ = State::Lost;
        report(reason + " (" + shown_ + "); trying again in the background");
    }
    showStatus(reason);
    retryAt_ = now + backoff_;
    backoff_ = std::min(backoff_ * 2, LongestRetry);
}

void GstCamera::showStatus(const std::string& reason) {
    if (reason == shownReason_) {
        return;
    }
    shownReason_ = reason;
    const std::lock_guard lock(producer_);
    DrawStatusPicture(channel_.backBuffer(), index_, reason, uri_ ? shown_ : "no source");
    channel_.publish(MaxWidth, MaxHeight);
}

void GstCamera::report(const std::string& what) const {
    std::fprintf(stderr, "quadview gstreamer: Camera%d: %s\n", index_ + 1, what.c_str());
}

GstFlowReturn GstCamera::onSample(GstElement* sink, gpointer camera) {
    auto* const self = static_cast<GstCamera*>(camera);
    TakeOver(self);
    GstSample* const sample = gst_app_sink_pull_sample(GST_APP_SINK(sink));
    if (sample == nullptr) {
        HandOver(self);
        return GST_FLOW_OK;
    }
    GstVideoInfo info;
    GstVideoFrame frame;
    if (gst_video_info_from_caps(&info, gst_sample_get_caps(sample)) &&
        gst_video_frame_map(&frame, &info, gst_sample_get_buffer(sample), GST_MAP_READ)) {
        // The one pass between GStreamer's buffer and the viewer: I420 to B, G, R
        // (libyuv's RGB24) straight into the channel, in the source's colours.
        const int width = std::min(GST_VIDEO_FRAME_WIDTH(&frame), MaxWidth);
        const int height = std::min(GST_VIDEO_FRAME_HEIGHT(&frame), MaxHeight);
        const GstVideoColorimetry& colours = GST_VIDEO_INFO_COLORIMETRY(&info);
        const auto convert = colours.range == GST_VIDEO_COLOR_RANGE_0_255     ? libyuv::J420ToRGB24
                             : colours.matrix == GST_VIDEO_COLOR_MATRIX_BT709 ? libyuv::H420ToRGB24
                                                                              : libyuv::I420ToRGB24;
        const auto plane = [&](int index) {
            return static_cast<const std::uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, index));
        };
        const auto stride = [&](int index) { return GST_VIDEO_FRAME_PLANE_STRIDE(&frame, index); };
        {
            const std::lock_guard lock(self->producer_);
            convert(plane(0), stride(0), plane(1), stride(1), plane(2), stride(2),
                    self->channel_.backBuffer(), width * BytesPerPixel, width, height);
            self->channel_.publish(width, height);
        }
        gst_video_frame_unmap(&frame);
        self->lastFrame_.store(Clock::now().time_since_epoch().count());
    }
    gst_sample_unref(sample);
    HandOver(self);
    return GST_FLOW_OK;
}

void GstCamera::onPadAdded(GstElement* decoder, GstPad* pad, gpointer convert) {
    GstCaps* caps = gst_pad_get_current_caps(pad);
    if (caps == nullptr) {
        caps = gst_pad_query_caps(pad, nullptr);
    }
    const bool video = caps != nullptr && gst_caps_get_size(caps) > 0 &&
                       g_str_has_prefix(gst_structure_get_name(gst_caps_get_structure(caps, 0)), "video/");
    if (caps != nullptr) {
        gst_caps_unref(caps);
    }
    GstPad* const target = gst_element_get_static_pad(static_cast<GstElement*>(convert), "sink");
    if (video && !gst_pad_is_linked(target)) {
        gst_pad_link(pad, target);
    } else if (GstElement* const drain = gst_element_factory_make("fakesink", nullptr); drain != nullptr) {
        // Audio, or a second video stream: taken and dropped, so the stream never stalls on it.
        g_object_set(drain, "sync", FALSE, "async", FALSE, nullptr);
        GstElement* const pipeline = GST_ELEMENT(gst_element_get_parent(decoder));
        gst_bin_add(GST_BIN(pipeline), drain);
        GstPad* const drainPad = gst_element_get_static_pad(drain, "sink");
        gst_pad_link(pad, drainPad);
        gst_object_unref(drainPad);
        gst_element_sync_state_with_parent(drain);
        gst_object_unref(pipeline);
    }
    gst_object_unref(target);
}

void GstCamera::onSourceSetup(GstElement* /*decoder*/, GstElement* source, gpointer /*camera*/) {
    GstElementFactory* const factory = gst_element_get_factory(source);
    const gchar* const name =
        factory != nullptr ? gst_plugin_feature_get_name(GST_PLUGIN_FEATURE(factory)) : "";
    if (std::strcmp(name, "rtspsrc") == 0) {
        // Low latency; rtspsrc falls back from UDP to TCP by itself when UDP brings nothing.
        g_object_set(source, "latency", 200u, nullptr);
    }
}

}  // namespace kesmacap
