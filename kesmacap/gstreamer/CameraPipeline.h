// One attempt at playing a source: its pipeline (uridecodebin, uridecodebin3
// for HTTP; video only -> videoconvert to I420 -> an appsink that keeps the
// newest frame, painted into the channel by a FramePainter), built for one
// URI and the credentials that go there, and torn down with it. What the
// pipeline says is forwarded to the camera's bus, with "connected" (a video
// stream was linked; "what" says its size), "unlinked" (it could not be),
// "sent-on" (an RTSP redirect to another origin asked for the credentials,
// which were kept from it; "what" says where) and a wake-up "frame" at the
// first picture.
#pragma once

#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gst/rtsp/gstrtspmessage.h>

#include <atomic>
#include <memory>
#include <string>

#include "kesmacap/card/SourceLife.h"
#include "kesmacap/gstreamer/FramePainter.h"
#include "kesmacap/gstreamer/RtspResends.h"

namespace kesmacap {

struct CameraTarget {
    std::string uri;  // without user info
    std::string user;
    std::string password;
    // Whether the user name and password go to the source: given, and this
    // URI is of the origin the sources file names.
    bool credentials = false;
};

class CameraPipeline {
  public:
    // Null when GStreamer lacks the elements (its base plugins). camera: the
    // camera's bus, which outlives the pipeline.
    static std::unique_ptr<CameraPipeline> make(const CameraTarget& target, GstBus* camera,
                                                FramePainter& painter);
    // Stops it: no frame or message comes from it afterwards.
    ~CameraPipeline();
    CameraPipeline(const CameraPipeline&) = delete;
    CameraPipeline& operator=(const CameraPipeline&) = delete;

    // Sets it playing; GStreamer's answer (NO_PREROLL: a live source;
    // FAILURE: what went wrong is on the bus).
    GstStateChangeReturn play();
    // A camera: shown as it comes, never made to wait for the clock or a buffer to fill.
    void beLive();
    bool live() const { return live_.load(); }
    // Paused while a download fills its buffer.
    void hold(bool paused);
    bool seekable() const;
    // Back to the start; false when the pipeline refused the seek.
    bool rewind();
    // Whether what feeds the sink is live: the latency query sent upstream
    // from it (the sink's own answer says only whether it syncs).
    bool upstreamIsLive() const;
    void recalculateLatency();
    SourceClock::time_point lastFrame() const {
        return SourceClock::time_point(SourceClock::duration(lastFrame_.load()));
    }

  private:
    struct PipelineDeleter {
        void operator()(GstElement* pipeline) const;
    };

    CameraPipeline(const CameraTarget& target, GstBus* camera, FramePainter& painter);
    bool assemble();
    void post(GstStructure* said) const;

    // The streaming threads' side.
    static GstFlowReturn onSample(GstAppSink* sink, gpointer self);
    static void onPadAdded(GstElement* decoder, GstPad* pad, gpointer self);
    static void onSourceSetup(GstElement* decoder, GstElement* source, gpointer self);
    static gboolean onAutoplugContinue(GstElement* decoder, GstPad* pad, GstCaps* caps, gpointer self);
    static gint onSelectDecoded(GstElement* decoder, GstStreamCollection* streams, GstStream* stream,
                                gpointer self);
    static gboolean onSelectStream(GstElement* source, guint number, GstCaps* caps, gpointer self);
    static gboolean onBeforeSend(GstElement* source, GstRTSPMessage* request, gpointer self);
    static GstBusSyncReply forward(GstBus* bus, GstMessage* message, gpointer self);

    const CameraTarget target_;
    GstBus* const camera_;
    FramePainter& painter_;
    std::atomic<SourceClock::rep> lastFrame_{0};
    std::atomic<bool> framePosted_{false};
    std::atomic<bool> live_{false};
    RtspResends resends_;
    std::atomic<bool> sentOn_{false};  // "sent-on" posted
    std::unique_ptr<GstElement, PipelineDeleter> pipeline_;
    GstElement* sink_ = nullptr;  // owned by pipeline_
};

}  // namespace kesmacap
