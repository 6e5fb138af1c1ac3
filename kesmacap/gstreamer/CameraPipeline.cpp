#include "kesmacap/gstreamer/CameraPipeline.h"

#include <gst/app/gstappsink.h>
#include <gst/video/video.h>

#include <algorithm>
#include <cstring>
#include <string_view>

#include "kesmacap/gstreamer/HttpRedirect.h"
#include "kesmacap/gstreamer/ThreadEdges.h"
#include "kesmacap/sources/SourcesFile.h"

namespace kesmacap {

namespace {

// rtspsrc tries TCP when UDP has brought nothing for this long (its own
// default, 5 s, leaves little of the connecting grace for the TCP attempt).
constexpr guint64 UdpTimeoutMicroseconds = 2'000'000;
constexpr guint RtspLatencyMilliseconds = 200;
constexpr guint HttpTimeoutSeconds = 8;

const char* nameOf(GstElement* element) {
    GstElementFactory* const factory = gst_element_get_factory(element);
    return factory != nullptr ? gst_plugin_feature_get_name(GST_PLUGIN_FEATURE(factory)) : "";
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

}  // namespace

void CameraPipeline::PipelineDeleter::operator()(GstElement* pipeline) const {
    // Waits for the streaming threads.
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(pipeline);
}

CameraPipeline::CameraPipeline(const CameraTarget& target, GstBus* camera, FramePainter& painter)
    : target_(target), camera_(camera), painter_(painter) {}

CameraPipeline::~CameraPipeline() {
    pipeline_.reset();
    // The streaming threads have ended: what they did is this thread's to see.
    TakeOver(this);
}

std::unique_ptr<CameraPipeline> CameraPipeline::make(const CameraTarget& target, GstBus* camera,
                                                     FramePainter& painter) {
    std::unique_ptr<CameraPipeline> made(new CameraPipeline(target, camera, painter));
    if (!made->assemble()) {
        return nullptr;
    }
    return made;
}

bool CameraPipeline::assemble() {
    pipeline_.reset(gst_pipeline_new(nullptr));
    // uridecodebin3 for HTTP: uridecodebin's decodebin never shows a camera's
    // multipart MJPEG (its stream has no end, so its one group never completes).
    // uridecodebin elsewhere: uridecodebin3 of GStreamer 1.22 at times brings no
    // picture when it is built again at once, as a restart does.
    const bool http =
        g_str_has_prefix(target_.uri.c_str(), "http:") || g_str_has_prefix(target_.uri.c_str(), "https:");
    GstElement* const decoder = gst_element_factory_make(http ? "uridecodebin3" : "uridecodebin", nullptr);
    GstElement* const convert = gst_element_factory_make("videoconvert", "convert");
    GstElement* const filter = gst_element_factory_make("capsfilter", nullptr);
    GstElement* const sink = gst_element_factory_make("appsink", "sink");
    GstElement* const elements[] = {decoder, convert, filter, sink};
    if (!pipeline_ || std::find(std::begin(elements), std::end(elements), nullptr) != std::end(elements)) {
        for (GstElement* const element : elements) {
            if (element != nullptr) {
                gst_object_unref(gst_object_ref_sink(element));
            }
        }
        return false;
    }
    g_object_set(decoder, "uri", target_.uri.c_str(), nullptr);
    // The decoder's own planar format; scaled and turned into B, G, R once, on the way into the channel.
    GstCaps* const caps = gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "I420", nullptr);
    g_object_set(filter, "caps", caps, nullptr);
    gst_caps_unref(caps);
    // The newest frame only. In step with the clock until the pipeline says it is live.
    g_object_set(sink, "max-buffers", 1u, "drop", TRUE, "sync", TRUE, nullptr);
    GstAppSinkCallbacks callbacks{};
    callbacks.new_sample = onSample;
    gst_app_sink_set_callbacks(GST_APP_SINK(sink), &callbacks, this, nullptr);
    gst_bin_add_many(GST_BIN(pipeline_.get()), decoder, convert, filter, sink, nullptr);
    gst_element_link_many(convert, filter, sink, nullptr);
    g_signal_connect(decoder, "pad-added", G_CALLBACK(onPadAdded), this);
    g_signal_connect(decoder, "source-setup", G_CALLBACK(onSourceSetup), this);
    // Only video is decoded: sound and subtitles are left as they come.
    if (http) {
        g_signal_connect(decoder, "select-stream", G_CALLBACK(onSelectDecoded), this);
    } else {
        g_signal_connect(decoder, "autoplug-continue", G_CALLBACK(onAutoplugContinue), this);
    }
    GstBus* const own = gst_element_get_bus(pipeline_.get());
    gst_bus_set_sync_handler(own, forward, this, nullptr);
    gst_object_unref(own);
    sink_ = sink;
    return true;
}

GstStateChangeReturn CameraPipeline::play() {
    HandOver(this);
    return gst_element_set_state(pipeline_.get(), GST_STATE_PLAYING);
}

void CameraPipeline::beLive() {
    live_.store(true);
    g_object_set(sink_, "sync", FALSE, nullptr);
    gst_element_set_state(pipeline_.get(), GST_STATE_PLAYING);
}

void CameraPipeline::hold(bool paused) {
    gst_element_set_state(pipeline_.get(), paused ? GST_STATE_PAUSED : GST_STATE_PLAYING);
}

bool CameraPipeline::seekable() const {
    GstQuery* const query = gst_query_new_seeking(GST_FORMAT_TIME);
    gboolean seekable = FALSE;
    if (gst_element_query(pipeline_.get(), query)) {
        gst_query_parse_seeking(query, nullptr, &seekable, nullptr, nullptr);
    }
    gst_query_unref(query);
    return seekable != FALSE;
}

bool CameraPipeline::rewind() {
    return gst_element_seek_simple(pipeline_.get(), GST_FORMAT_TIME,
                                   static_cast<GstSeekFlags>(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_KEY_UNIT),
                                   0) != FALSE;
}

bool CameraPipeline::upstreamIsLive() const {
    GstPad* const pad = gst_element_get_static_pad(sink_, "sink");
    GstQuery* const query = gst_query_new_latency();
    gboolean live = FALSE;
    if (gst_pad_peer_query(pad, query)) {
        gst_query_parse_latency(query, &live, nullptr, nullptr);
    }
    gst_query_unref(query);
    gst_object_unref(pad);
    return live != FALSE;
}

void CameraPipeline::recalculateLatency() {
    gst_bin_recalculate_latency(GST_BIN(pipeline_.get()));
}

void CameraPipeline::post(GstStructure* said) const {
    gst_bus_post(camera_, gst_message_new_application(nullptr, said));
}

GstBusSyncReply CameraPipeline::forward(GstBus* /*bus*/, GstMessage* message, gpointer self) {
    TakeOver(self);
    gst_bus_post(static_cast<CameraPipeline*>(self)->camera_, gst_message_ref(message));
    HandOver(self);
    return GST_BUS_DROP;
}

GstFlowReturn CameraPipeline::onSample(GstAppSink* sink, gpointer self) {
    auto* const pipeline = static_cast<CameraPipeline*>(self);
    TakeOver(pipeline);
    if (GstSample* const sample = gst_app_sink_pull_sample(sink); sample != nullptr) {
        pipeline->painter_.paint(sample);
        gst_sample_unref(sample);
        pipeline->lastFrame_.store(SourceClock::now().time_since_epoch().count());
        if (!pipeline->framePosted_.exchange(true)) {
            pipeline->post(gst_structure_new_empty("frame"));
        }
    }
    HandOver(pipeline);
    return GST_FLOW_OK;
}

void CameraPipeline::onPadAdded(GstElement* decoder, GstPad* pad, gpointer self) {
    auto* const pipeline = static_cast<CameraPipeline*>(self);
    TakeOver(pipeline);
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
    GstElement* const bin = GST_ELEMENT(gst_element_get_parent(decoder));
    GstElement* const convert = gst_bin_get_by_name(GST_BIN(bin), "convert");
    GstPad* const target = gst_element_get_static_pad(convert, "sink");
    if (video && !gst_pad_is_linked(target)) {
        const GstPadLinkReturn linked = gst_pad_link(pad, target);
        // Said only of video that can reach the sink: else no picture is coming.
        pipeline->post(linked == GST_PAD_LINK_OK
                           ? gst_structure_new("connected", "what", G_TYPE_STRING, what.c_str(), nullptr)
                           : gst_structure_new("unlinked", "what", G_TYPE_STRING,
                                               ("its " + what + " cannot be converted (" +
                                                gst_pad_link_get_name(linked) + ")")
                                                   .c_str(),
                                               nullptr));
    } else if (GstElement* const drain = gst_element_factory_make("fakesink", nullptr); drain != nullptr) {
        // A stream left undecoded, or a second video stream: taken and dropped, so nothing stalls on it.
        g_object_set(drain, "sync", FALSE, "async", FALSE, nullptr);
        gst_bin_add(GST_BIN(bin), drain);
        GstPad* const drainPad = gst_element_get_static_pad(drain, "sink");
        gst_pad_link(pad, drainPad);
        gst_object_unref(drainPad);
        gst_element_sync_state_with_parent(drain);
    }
    gst_object_unref(target);
    gst_object_unref(convert);
    gst_object_unref(bin);
    HandOver(pipeline);
}

gboolean CameraPipeline::onAutoplugContinue(GstElement* /*decoder*/, GstPad* /*pad*/, GstCaps* caps,
                                            gpointer /*self*/) {
    return isVideo(caps) ? TRUE : FALSE;
}

gint CameraPipeline::onSelectDecoded(GstElement* /*decoder*/, GstStreamCollection* /*streams*/,
                                     GstStream* stream, gpointer /*self*/) {
    const GstStreamType type = gst_stream_get_stream_type(stream);
    if ((type & GST_STREAM_TYPE_VIDEO) != 0) {
        return 1;
    }
    return (type & (GST_STREAM_TYPE_AUDIO | GST_STREAM_TYPE_TEXT)) != 0 ? 0 : -1;
}

gboolean CameraPipeline::onSelectStream(GstElement* /*source*/, guint /*number*/, GstCaps* caps,
                                        gpointer /*self*/) {
    // Only the camera's video is set up; its sound never crosses the network.
    return isVideo(caps) ? TRUE : FALSE;
}

gboolean CameraPipeline::onBeforeSend(GstElement* source, GstRTSPMessage* request, gpointer self) {
    auto* const pipeline = static_cast<CameraPipeline*>(self);
    TakeOver(pipeline);
    gchar* header = nullptr;
    RtspResends::Request said{};
    said.sentBefore = gst_rtsp_message_get_header(request, GST_RTSP_HDR_DATE, &header, 0) == GST_RTSP_OK;
    said.withCredentials =
        gst_rtsp_message_get_header(request, GST_RTSP_HDR_AUTHORIZATION, &header, 0) == GST_RTSP_OK;
    // Where rtspsrc is connected: the named URI, or where a redirect sent it.
    gchar* location = nullptr;
    g_object_get(source, "location", &location, nullptr);
    const std::string at = location != nullptr ? location : "";
    g_free(location);
    said.namedOrigin = SameOrigin(pipeline->target_.uri, at);
    const RtspResends::Verdict verdict = pipeline->resends_.before(said);
    if (verdict == RtspResends::Verdict::WithholdElsewhere && !pipeline->sentOn_.exchange(true)) {
        const SourceUri shown = ParseSourceUri(at);
        pipeline->post(gst_structure_new("sent-on", "what", G_TYPE_STRING,
                                         (shown.uri.empty() ? shown.shown : shown.uri).c_str(), nullptr));
    }
    HandOver(pipeline);
    return verdict == RtspResends::Verdict::Send ? TRUE : FALSE;
}

void CameraPipeline::onSourceSetup(GstElement* /*decoder*/, GstElement* source, gpointer self) {
    auto* const pipeline = static_cast<CameraPipeline*>(self);
    TakeOver(pipeline);
    const CameraTarget& target = pipeline->target_;
    // The credentials go to the source's own properties: the URI it sees holds none.
    if (target.credentials &&
        g_object_class_find_property(G_OBJECT_GET_CLASS(source), "user-id") != nullptr) {
        g_object_set(source, "user-id", target.user.c_str(), "user-pw", target.password.c_str(), nullptr);
    }
    const std::string_view name = nameOf(source);
    if (name == "rtspsrc") {
        g_object_set(source, "latency", RtspLatencyMilliseconds, "timeout", UdpTimeoutMicroseconds,
                     "do-rtsp-keep-alive", TRUE, nullptr);
        g_signal_connect(source, "select-stream", G_CALLBACK(onSelectStream), self);
        g_signal_connect(source, "before-send", G_CALLBACK(onBeforeSend), self);
    } else if (name == "souphttpsrc") {
        g_object_set(source, "timeout", HttpTimeoutSeconds, nullptr);
        // libsoup would answer the challenge of any host it is sent on to
        // with them: GstCamera follows the redirects, to the named origin alone.
        if (target.credentials) {
            g_object_set(source, "automatic-redirect", FALSE, nullptr);
        }
    }
    HandOver(pipeline);
}

}  // namespace kesmacap
