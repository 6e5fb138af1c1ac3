#include "kesmacap/gstreamer/GstCamera.h"

#include <gst/app/gstappsink.h>
#include <gst/pbutils/missing-plugins.h>
#include <gst/video/video.h>
#include <libyuv/convert_argb.h>
#include <libyuv/scale.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "kesmacap/gstreamer/MissingPlugin.h"
#include "kesmacap/gstreamer/RtspLogin.h"
#include "kesmacap/gstreamer/ThreadEdges.h"
#include "kesmacap/pictures/StatusPicture.h"

namespace kesmacap {

namespace {

using namespace std::chrono_literals;

// rtspsrc tries TCP when UDP has brought nothing for this long (its own
// default, 5 s, leaves little of the connecting grace for the TCP attempt).
constexpr guint64 UdpTimeoutMicroseconds = 2'000'000;
constexpr guint RtspLatencyMilliseconds = 200;
constexpr guint HttpTimeoutSeconds = 8;
// How long each step of asking a camera that refused the login for its
// challenge may take (connect, send, receive; on the camera's own thread).
constexpr int ChallengeSeconds = 1;

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

const char* nameOf(GstElement* element) {
    GstElementFactory* const factory = gst_element_get_factory(element);
    return factory != nullptr ? gst_plugin_feature_get_name(GST_PLUGIN_FEATURE(factory)) : "";
}

// Whether what feeds the sink is live: the latency query sent upstream from
// it (the sink's own answer says only whether it syncs).
bool upstreamIsLive(GstElement* sink) {
    GstPad* const pad = gst_element_get_static_pad(sink, "sink");
    GstQuery* const query = gst_query_new_latency();
    gboolean live = FALSE;
    if (gst_pad_peer_query(pad, query)) {
        gst_query_parse_latency(query, &live, nullptr, nullptr);
    }
    gst_query_unref(query);
    gst_object_unref(pad);
    return live != FALSE;
}

bool seekable(GstElement* pipeline) {
    GstQuery* const query = gst_query_new_seeking(GST_FORMAT_TIME);
    gboolean seekable = FALSE;
    if (gst_element_query(pipeline, query)) {
        gst_query_parse_seeking(query, nullptr, &seekable, nullptr, nullptr);
    }
    gst_query_unref(query);
    return seekable != FALSE;
}

// What a stream carries, for the streams that are not to be decoded.
bool isVideo(const GstCaps* caps) {
    if (caps == nullptr || gst_caps_get_size(caps) == 0) {
        return false;
    }
    const GstStructure* const structure = gst_caps_get_structure(caps, 0);
    const char* const name = gst_structure_get_name(structure);
    if (g_str_has_prefix(name, "application/x-rtp")) {
        const char* const media = gst_structure_get_string(structure, "media");
        return media == nullptr || std::strcmp(media, "video") == 0;
    }
    return !g_str_has_prefix(name, "audio/") && !g_str_has_prefix(name, "text/") &&
           !g_str_has_prefix(name, "subpicture/") && !g_str_has_prefix(name, "application/x-subtitle");
}

// Whether an HTTP answer is a stream of pictures, each replacing the last:
// multipart/x-mixed-replace, the MJPEG of cameras, phones, motion, mjpg-streamer.
bool servesPictureAfterPicture(GstMessage* message) {
    const GstStructure* const said = gst_message_get_structure(message);
    const GstStructure* headers = nullptr;
    if (!gst_structure_get(said, "response-headers", GST_TYPE_STRUCTURE, &headers, nullptr) ||
        headers == nullptr) {
        return false;
    }
    bool multipart = false;
    for (int field = 0; field < gst_structure_n_fields(headers); ++field) {
        const char* const name = gst_structure_nth_field_name(headers, static_cast<guint>(field));
        const char* const value = gst_structure_get_string(headers, name);
        multipart = multipart || (g_ascii_strcasecmp(name, "Content-Type") == 0 && value != nullptr &&
                                  g_ascii_strncasecmp(value, "multipart/", 10) == 0);
    }
    gst_structure_free(const_cast<GstStructure*>(headers));
    return multipart;
}

// The colours a decoder's YUV means, as libyuv names them.
const libyuv::YuvConstants* coloursOf(const GstVideoColorimetry& colours) {
    const bool full = colours.range == GST_VIDEO_COLOR_RANGE_0_255;
    switch (colours.matrix) {
        case GST_VIDEO_COLOR_MATRIX_BT709:
            return full ? &libyuv::kYuvF709Constants : &libyuv::kYuvH709Constants;
        case GST_VIDEO_COLOR_MATRIX_BT2020:
            return full ? &libyuv::kYuvV2020Constants : &libyuv::kYuv2020Constants;
        default:
            return full ? &libyuv::kYuvJPEGConstants : &libyuv::kYuvI601Constants;
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

void GstCamera::PipelineDeleter::operator()(GstElement* pipeline) const {
    // Waits for the streaming threads: no frame arrives from it afterwards.
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(pipeline);
}

GstCamera::GstCamera(Channel& channel, int index, const std::optional<std::string>& uri,
                     const std::string& sourcesFile)
    : channel_(channel),
      index_(index),
      source_(uri ? ParseSourceUri(*uri) : SourceUri{}),
      cannotPlay_(!uri ? "Not configured: add Camera" + std::to_string(index + 1) + " = URI to " +
                             sourcesFile + " (see quadview-sources(5))"
                  : source_.uri.empty() ? "Cannot play: this is not a URI (" + source_.problem + ")"
                                        : std::string()),
      bus_(gst_bus_new()),
      thread_([this] { run(); }) {}

GstCamera::~GstCamera() {
    {
        const std::lock_guard lock(mutex_);
        quit_ = true;
    }
    wake("quit");
    thread_.join();
}

void GstCamera::start() {
    {
        const std::lock_guard lock(mutex_);
        wanted_ = true;
        ++generation_;
    }
    wake("start");
}

void GstCamera::stop() {
    {
        const std::lock_guard lock(mutex_);
        wanted_ = false;
    }
    wake("stop");
}

void GstCamera::wake(const char* why) const {
    gst_bus_post(bus_.get(), gst_message_new_application(nullptr, gst_structure_new_empty(why)));
}

void GstCamera::run() {
    unsigned served = 0;
    for (;;) {
        bool wanted = false;
        bool quit = false;
        unsigned generation = 0;
        {
            const std::lock_guard lock(mutex_);
            wanted = wanted_;
            quit = quit_;
            generation = generation_;
        }
        Clock::time_point now = Clock::now();
        if (quit) {
            feed({SourceEventKind::Close, {}}, now);
            return;
        }
        if (wanted && generation != served) {
            served = generation;
            if (cannotPlay_.empty()) {
                feed({SourceEventKind::Start, {}}, now);
            } else {
                SourceStep step;
                step.reason = cannotPlay_;
                step.status = SourceStatus::Failed;
                showStatus(step, now);
            }
        } else if (!wanted && life_.phase != SourcePhase::Stopped) {
            feed({SourceEventKind::Stop, {}}, now);
        }
        const Clock::time_point lastFrame{Clock::duration(lastFrame_.load())};
        if (pipeline_ && lastFrame > life_.lastFrame) {
            feed({SourceEventKind::Frame, {}}, lastFrame);
        }
        now = Clock::now();
        if (now >= life_.deadline) {
            feed({SourceEventKind::Timer, {}}, now);
            continue;
        }
        const GstClockTime timeout =
            life_.deadline == Clock::time_point::max()
                ? GST_CLOCK_TIME_NONE
                : static_cast<GstClockTime>(std::chrono::nanoseconds(life_.deadline - now).count());
        if (GstMessage* const message = gst_bus_timed_pop(bus_.get(), timeout); message != nullptr) {
            handle(message, Clock::now());
            gst_message_unref(message);
        }
    }
}

void GstCamera::feed(const SourceEvent& event, Clock::time_point now) {
    const SourceStep step = SourceLife::advance(life_, event, now);
    life_ = step.state;
    if (step.tearDown) {
        tearDown();
    }
    if (step.show) {
        showStatus(step, now);
    }
    if (step.news && life_.phase == SourcePhase::Live) {
        report("connected to " + source_.shown + ": " + std::to_string(inputWidth_.load()) + " x " +
               std::to_string(inputHeight_.load()) + ", shown as " + std::to_string(shownWidth_.load()) +
               " x " + std::to_string(shownHeight_.load()));
    } else if (step.news) {
        report(step.reason + " (" + source_.shown + "); trying again in the background");
    }
    if (step.build) {
        build();
    }
}

void GstCamera::build() {
    Pipeline pipeline(gst_pipeline_new(nullptr));
    // uridecodebin3 for HTTP: uridecodebin's decodebin never shows a camera's
    // multipart MJPEG (its stream has no end, so its one group never completes).
    // uridecodebin elsewhere: uridecodebin3 of GStreamer 1.22 at times brings no
    // picture when it is built again at once, as a restart does.
    const bool http =
        g_str_has_prefix(source_.uri.c_str(), "http:") || g_str_has_prefix(source_.uri.c_str(), "https:");
    GstElement* const decoder = gst_element_factory_make(http ? "uridecodebin3" : "uridecodebin", nullptr);
    GstElement* const convert = gst_element_factory_make("videoconvert", "convert");
    GstElement* const filter = gst_element_factory_make("capsfilter", nullptr);
    GstElement* const sink = gst_element_factory_make("appsink", "sink");
    GstElement* const elements[] = {decoder, convert, filter, sink};
    if (!pipeline || std::find(std::begin(elements), std::end(elements), nullptr) != std::end(elements)) {
        for (GstElement* const element : elements) {
            if (element != nullptr) {
                gst_object_unref(gst_object_ref_sink(element));
            }
        }
        feed({SourceEventKind::Error,
              "GStreamer's base plugins are missing (install gstreamer1.0-plugins-base)"},
             Clock::now());
        return;
    }
    g_object_set(decoder, "uri", source_.uri.c_str(), nullptr);
    // The decoder's own planar format; scaled and turned into B, G, R once, on the way into the channel.
    GstCaps* const caps = gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "I420", nullptr);
    g_object_set(filter, "caps", caps, nullptr);
    gst_caps_unref(caps);
    // The newest frame only. In step with the clock until the pipeline says it is live.
    g_object_set(sink, "max-buffers", 1u, "drop", TRUE, "sync", TRUE, nullptr);
    GstAppSinkCallbacks callbacks{};
    callbacks.new_sample = [](GstAppSink* appSink, gpointer camera) {
        return onSample(GST_ELEMENT(appSink), camera);
    };
    gst_app_sink_set_callbacks(GST_APP_SINK(sink), &callbacks, this, nullptr);
    gst_bin_add_many(GST_BIN(pipeline.get()), decoder, convert, filter, sink, nullptr);
    gst_element_link_many(convert, filter, sink, nullptr);
    g_signal_connect(decoder, "pad-added", G_CALLBACK(onPadAdded), this);
    g_signal_connect(decoder, "source-setup", G_CALLBACK(onSourceSetup), this);
    // Only video is decoded: sound and subtitles are left as they come.
    if (http) {
        g_signal_connect(decoder, "select-stream", G_CALLBACK(onSelectDecoded), this);
    } else {
        g_signal_connect(decoder, "autoplug-continue", G_CALLBACK(onAutoplugContinue), this);
    }
    const Bus own(gst_element_get_bus(pipeline.get()));
    gst_bus_set_sync_handler(own.get(), forward, this, nullptr);
    lastFrame_.store(0);
    framePosted_.store(false);
    live_.store(false);
    bufferingTens_ = -1;
    sink_ = sink;
    builtAt_ = std::chrono::system_clock::now();
    pipeline_ = std::move(pipeline);
    HandOver(this);
    switch (gst_element_set_state(pipeline_.get(), GST_STATE_PLAYING)) {
        case GST_STATE_CHANGE_NO_PREROLL:
            beLive();
            break;
        case GST_STATE_CHANGE_FAILURE:
            // The error on the bus says why.
            if (GstMessage* const error = gst_bus_pop_filtered(bus_.get(), GST_MESSAGE_ERROR);
                error != nullptr) {
                const std::string why = errorText(error);
                gst_message_unref(error);
                feed({SourceEventKind::Error, why}, Clock::now());
            } else {
                feed({SourceEventKind::Error, "GStreamer cannot play it"}, Clock::now());
            }
            break;
        default:
            break;
    }
}

void GstCamera::beLive() {
    if (!pipeline_) {
        return;
    }
    // A camera: shown as it comes, never made to wait for the clock or a buffer to fill.
    live_.store(true);
    g_object_set(sink_, "sync", FALSE, nullptr);
    gst_element_set_state(pipeline_.get(), GST_STATE_PLAYING);
}

void GstCamera::tearDown() {
    pipeline_.reset();
    sink_ = nullptr;
    // The streaming threads have ended: what they did is this thread's to see.
    TakeOver(this);
    // What the pipeline said is history now. A command's wake-up may go with
    // it: the wake-up posted after the flush has the loop read what is wanted
    // again before it waits.
    gst_bus_set_flushing(bus_.get(), TRUE);
    gst_bus_set_flushing(bus_.get(), FALSE);
    wake("flushed");
}

void GstCamera::handle(GstMessage* message, Clock::time_point now) {
    switch (GST_MESSAGE_TYPE(message)) {
        case GST_MESSAGE_APPLICATION:
            if (gst_message_has_name(message, "connected")) {
                const char* const what = gst_structure_get_string(gst_message_get_structure(message), "what");
                feed({SourceEventKind::Connected, what != nullptr ? what : ""}, now);
            }
            break;  // otherwise a wake-up: the loop reads what is wanted
        case GST_MESSAGE_ERROR:
            feed({SourceEventKind::Error, errorText(message)}, now);
            break;
        case GST_MESSAGE_EOS:
            // A file plays again from its start: sought where it can be, built
            // anew where not (an HTTP server without ranges); a stream that ends is lost.
            if (live_.load() || !pipeline_) {
                feed({SourceEventKind::EndOfStream, {}}, now);
            } else if (!seekable(pipeline_.get()) ||
                       !gst_element_seek_simple(
                           pipeline_.get(), GST_FORMAT_TIME,
                           static_cast<GstSeekFlags>(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_KEY_UNIT), 0)) {
                feed({SourceEventKind::Start, {}}, now);
            }
            break;
        case GST_MESSAGE_ELEMENT:
            if (gst_message_has_name(message, "http-headers") && servesPictureAfterPicture(message)) {
                // A camera's MJPEG over HTTP: live, though the HTTP source cannot tell.
                beLive();
            } else if (gst_is_missing_plugin_message(message)) {
                gchar* const detail = gst_missing_plugin_message_get_installer_detail(message);
                gchar* const description = gst_missing_plugin_message_get_description(message);
                const MissingPlugin missing = AdviceForMissing(detail != nullptr ? detail : "");
                const std::string what = std::string("GStreamer has no ") +
                                         (description != nullptr ? description : "plugin for this stream") +
                                         " (" + missing.advice + ")";
                g_free(detail);
                g_free(description);
                if (missing.video) {
                    feed({SourceEventKind::Error, what}, now);
                } else {
                    report(what + ": not needed for the picture");
                }
            }
            break;
        case GST_MESSAGE_BUFFERING:
            // A download or a stream that is not live fills its queue before it
            // plays on; a live one takes no download buffering.
            if (!live_.load() && pipeline_) {
                gint percent = 0;
                gst_message_parse_buffering(message, &percent);
                gst_element_set_state(pipeline_.get(), percent < 100 ? GST_STATE_PAUSED : GST_STATE_PLAYING);
                // Said in tens: a message may come with every buffer.
                if (percent / 10 != bufferingTens_) {
                    bufferingTens_ = percent / 10;
                    feed({SourceEventKind::Connected, "buffering " + std::to_string(percent) + " %"}, now);
                }
            }
            break;
        case GST_MESSAGE_LATENCY:
        case GST_MESSAGE_ASYNC_DONE:
            // rtspsrc inside uridecodebin answers NO_PREROLL to its own state
            // change, not to the pipeline's: upstream's latency says it is live.
            if (pipeline_ && !live_.load() && upstreamIsLive(sink_)) {
                beLive();
            }
            if (pipeline_ && GST_MESSAGE_TYPE(message) == GST_MESSAGE_LATENCY) {
                gst_bin_recalculate_latency(GST_BIN(pipeline_.get()));
            }
            break;
        default:
            break;
    }
}

std::string GstCamera::errorText(GstMessage* message) const {
    GError* error = nullptr;
    gst_message_parse_error(message, &error, nullptr);
    std::string text = error != nullptr ? error->message : "error";
    if (error != nullptr && error->domain == GST_RESOURCE_ERROR &&
        error->code == GST_RESOURCE_ERROR_NOT_AUTHORIZED) {
        // rtspsrc says only "Unauthorized": the camera's own challenge tells a
        // wrong password from a login GStreamer cannot answer.
        const bool rtsp = g_str_has_prefix(source_.uri.c_str(), "rtsp");
        text = LoginRefusal(rtsp ? AskChallenges(source_.uri, ChallengeSeconds) : std::vector<std::string>{},
                            !source_.user.empty());
    } else if (text.find("certificate") != std::string::npos || text.find("TLS") != std::string::npos) {
        text =
            "the camera's HTTPS certificate is not trusted (self-signed? see quadview-sources(5)): " + text;
    }
    g_clear_error(&error);
    return MaskSecrets(without(text, source_.password));
}

void GstCamera::showStatus(const SourceStep& step, Clock::time_point now) {
    const std::string reason = step.status == SourceStatus::Failed && !cannotPlay_.empty()
                                   ? step.reason
                                   : SourceLife::describe(step, now);
    const std::lock_guard lock(producer_);
    DrawStatusPicture(channel_.backBuffer(), index_, reason,
                      source_.shown.empty() ? "no source" : source_.shown);
    channel_.publish(MaxWidth, MaxHeight);
}

void GstCamera::report(const std::string& what) const {
    std::fprintf(stderr, "quadview gstreamer: Camera%d: %s\n", index_ + 1, what.c_str());
}

GstBusSyncReply GstCamera::forward(GstBus* /*bus*/, GstMessage* message, gpointer camera) {
    TakeOver(camera);
    gst_bus_post(static_cast<GstCamera*>(camera)->bus_.get(), gst_message_ref(message));
    HandOver(camera);
    return GST_BUS_DROP;
}

GstFlowReturn GstCamera::onSample(GstElement* sink, gpointer camera) {
    auto* const self = static_cast<GstCamera*>(camera);
    TakeOver(self);
    if (GstSample* const sample = gst_app_sink_pull_sample(GST_APP_SINK(sink)); sample != nullptr) {
        self->convert(sample);
        gst_sample_unref(sample);
        self->lastFrame_.store(Clock::now().time_since_epoch().count());
        if (!self->framePosted_.exchange(true)) {
            self->wake("frame");
        }
    }
    HandOver(self);
    return GST_FLOW_OK;
}

void GstCamera::convert(GstSample* sample) {
    GstVideoInfo info;
    GstVideoFrame frame;
    if (!gst_video_info_from_caps(&info, gst_sample_get_caps(sample)) ||
        !gst_video_frame_map(&frame, &info, gst_sample_get_buffer(sample), GST_MAP_READ)) {
        return;
    }
    const int width = GST_VIDEO_FRAME_WIDTH(&frame);
    const int height = GST_VIDEO_FRAME_HEIGHT(&frame);
    inputWidth_.store(width);
    inputHeight_.store(height);
    fit_ = FitInFrame(width, height, GST_VIDEO_INFO_PAR_N(&info), GST_VIDEO_INFO_PAR_D(&info));
    shownWidth_.store(fit_.width);
    shownHeight_.store(fit_.height);
    const std::uint8_t* planes[3];
    int strides[3];
    for (int plane = 0; plane < 3; ++plane) {
        planes[plane] = static_cast<const std::uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, plane));
        strides[plane] = GST_VIDEO_FRAME_PLANE_STRIDE(&frame, plane);
    }
    if (fit_.width != width || fit_.height != height) {
        // Scaled in the decoder's planes first: a quarter of the bytes of B, G, R.
        const std::size_t luma = static_cast<std::size_t>(fit_.width) * fit_.height;
        scaled_.resize(luma + luma / 2);
        std::uint8_t* const y = scaled_.data();
        std::uint8_t* const u = y + luma;
        std::uint8_t* const v = u + luma / 4;
        libyuv::I420Scale(planes[0], strides[0], planes[1], strides[1], planes[2], strides[2], width, height,
                          y, fit_.width, u, fit_.width / 2, v, fit_.width / 2, fit_.width, fit_.height,
                          libyuv::kFilterBilinear);
        planes[0] = y;
        planes[1] = u;
        planes[2] = v;
        strides[0] = fit_.width;
        strides[1] = strides[2] = fit_.width / 2;
    }
    {
        const std::lock_guard lock(producer_);
        std::uint8_t* const out = channel_.backBuffer();
        paintBars(out, fit_);
        // libyuv's RGB24 is B, G, R in memory: the channel's own order.
        libyuv::I420ToRGB24Matrix(
            planes[0], strides[0], planes[1], strides[1], planes[2], strides[2],
            out + (static_cast<std::size_t>(fit_.y) * MaxWidth + fit_.x) * BytesPerPixel,
            MaxWidth * BytesPerPixel, coloursOf(GST_VIDEO_INFO_COLORIMETRY(&info)), fit_.width, fit_.height);
        channel_.publish(MaxWidth, MaxHeight);
    }
    gst_video_frame_unmap(&frame);
}

void GstCamera::onPadAdded(GstElement* decoder, GstPad* pad, gpointer camera) {
    auto* const self = static_cast<GstCamera*>(camera);
    TakeOver(self);
    GstCaps* caps = gst_pad_get_current_caps(pad);
    if (caps == nullptr) {
        caps = gst_pad_query_caps(pad, nullptr);
    }
    const bool video =
        caps != nullptr && gst_caps_get_size(caps) > 0 &&
        g_str_has_prefix(gst_structure_get_name(gst_caps_get_structure(caps, 0)), "video/x-raw");
    std::string what = "video";
    if (GstVideoInfo info; video && gst_caps_is_fixed(caps) && gst_video_info_from_caps(&info, caps)) {
        what = std::to_string(info.width) + " x " + std::to_string(info.height) + " video";
    }
    if (caps != nullptr) {
        gst_caps_unref(caps);
    }
    GstElement* const pipeline = GST_ELEMENT(gst_element_get_parent(decoder));
    GstElement* const convert = gst_bin_get_by_name(GST_BIN(pipeline), "convert");
    GstPad* const target = gst_element_get_static_pad(convert, "sink");
    if (video && !gst_pad_is_linked(target)) {
        gst_pad_link(pad, target);
        GstStructure* const said =
            gst_structure_new("connected", "what", G_TYPE_STRING, what.c_str(), nullptr);
        gst_bus_post(self->bus_.get(), gst_message_new_application(nullptr, said));
    } else if (GstElement* const drain = gst_element_factory_make("fakesink", nullptr); drain != nullptr) {
        // A stream left undecoded, or a second video stream: taken and dropped, so nothing stalls on it.
        g_object_set(drain, "sync", FALSE, "async", FALSE, nullptr);
        gst_bin_add(GST_BIN(pipeline), drain);
        GstPad* const drainPad = gst_element_get_static_pad(drain, "sink");
        gst_pad_link(pad, drainPad);
        gst_object_unref(drainPad);
        gst_element_sync_state_with_parent(drain);
    }
    gst_object_unref(target);
    gst_object_unref(convert);
    gst_object_unref(pipeline);
    HandOver(self);
}

gboolean GstCamera::onAutoplugContinue(GstElement* /*decoder*/, GstPad* /*pad*/, GstCaps* caps,
                                       gpointer /*camera*/) {
    return isVideo(caps) ? TRUE : FALSE;
}

gint GstCamera::onSelectDecoded(GstElement* /*decoder*/, GstStreamCollection* /*streams*/, GstStream* stream,
                                gpointer /*camera*/) {
    const GstStreamType type = gst_stream_get_stream_type(stream);
    if ((type & GST_STREAM_TYPE_VIDEO) != 0) {
        return 1;
    }
    return (type & (GST_STREAM_TYPE_AUDIO | GST_STREAM_TYPE_TEXT)) != 0 ? 0 : -1;
}

gboolean GstCamera::onSelectStream(GstElement* /*source*/, guint /*number*/, GstCaps* caps,
                                   gpointer /*camera*/) {
    // Only the camera's video is set up; its sound never crosses the network.
    return isVideo(caps) ? TRUE : FALSE;
}

void GstCamera::onSourceSetup(GstElement* /*decoder*/, GstElement* source, gpointer camera) {
    TakeOver(camera);
    const auto* const self = static_cast<GstCamera*>(camera);
    // The credentials go to the source's own properties: the URI it sees holds none.
    if (!self->source_.user.empty() &&
        g_object_class_find_property(G_OBJECT_GET_CLASS(source), "user-id") != nullptr) {
        g_object_set(source, "user-id", self->source_.user.c_str(), "user-pw", self->source_.password.c_str(),
                     nullptr);
    }
    const std::string_view name = nameOf(source);
    if (name == "rtspsrc") {
        g_object_set(source, "latency", RtspLatencyMilliseconds, "timeout", UdpTimeoutMicroseconds,
                     "do-rtsp-keep-alive", TRUE, nullptr);
        g_signal_connect(source, "select-stream", G_CALLBACK(onSelectStream), camera);
    } else if (name == "souphttpsrc") {
        g_object_set(source, "timeout", HttpTimeoutSeconds, nullptr);
    }
    HandOver(camera);
}

}  // namespace kesmacap
