#pragma once

#include <gst/gst.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "kesmacap/card/Channel.h"
#include "kesmacap/card/Letterbox.h"
#include "kesmacap/card/SourceLife.h"
#include "kesmacap/sources/SourcesFile.h"

namespace kesmacap {

// One channel's source: its own pipeline (uridecodebin, uridecodebin3 for HTTP; video only ->
// videoconvert to I420 -> an appsink that keeps the newest frame, scaled and
// turned into B, G, R by libyuv on its way into the channel) and its own
// thread. The thread carries out what SourceLife decides: it feeds it the
// viewer's commands, the pipeline's bus and the frames, and waits on its own
// bus up to the next deadline. A dead camera therefore never stalls another,
// and start and stop only tell the thread what is wanted: they never wait on
// the network.
class GstCamera {
  public:
    // uri: what the settings name for this camera, or nothing; sourcesFile:
    // where a missing camera is to be added.
    GstCamera(Channel& channel, int index, const std::optional<std::string>& uri,
              const std::string& sourcesFile);
    ~GstCamera();
    GstCamera(const GstCamera&) = delete;
    GstCamera& operator=(const GstCamera&) = delete;

    void start();
    void stop();

  private:
    template <typename T>
    struct Unref {
        void operator()(T* object) const { gst_object_unref(object); }
    };
    struct PipelineDeleter {
        void operator()(GstElement* pipeline) const;
    };
    using Pipeline = std::unique_ptr<GstElement, PipelineDeleter>;
    using Bus = std::unique_ptr<GstBus, Unref<GstBus>>;
    using Clock = SourceClock;

    void run();
    void feed(const SourceEvent& event, Clock::time_point now);
    void build();
    // The pipeline is a camera's: no clock, no buffering.
    void beLive();
    // Stops and drops the pipeline; no frame or message comes from it afterwards.
    void tearDown();
    void handle(GstMessage* message, Clock::time_point now);
    std::string errorText(GstMessage* message) const;
    void showStatus(const SourceStep& step, Clock::time_point now);
    void report(const std::string& what) const;
    void wake(const char* why) const;

    // The streaming threads' side.
    static GstFlowReturn onSample(GstElement* sink, gpointer camera);
    void convert(GstSample* sample);
    static void onPadAdded(GstElement* decoder, GstPad* pad, gpointer camera);
    static void onSourceSetup(GstElement* decoder, GstElement* source, gpointer camera);
    static gboolean onAutoplugContinue(GstElement* decoder, GstPad* pad, GstCaps* caps, gpointer camera);
    static gint onSelectDecoded(GstElement* decoder, GstStreamCollection* streams, GstStream* stream,
                                gpointer camera);
    static gboolean onSelectStream(GstElement* source, guint number, GstCaps* caps, gpointer camera);
    static GstBusSyncReply forward(GstBus* bus, GstMessage* message, gpointer camera);

    Channel& channel_;
    const int index_;
    const SourceUri source_;
    // Said instead of playing: no source configured, or one that is no URI.
    const std::string cannotPlay_;
    // The camera's bus: the pipeline's messages are forwarded to it, the
    // viewer's commands and the first frame wake it.
    const Bus bus_;

    // What start and stop want; the thread does it.
    std::mutex mutex_;
    bool wanted_ = false;
    unsigned generation_ = 0;  // counts starts, so a quick stop and start still rebuilds
    bool quit_ = false;

    // Shared with the streaming threads: frames into the channel under
    // producer_, which the status picture takes too.
    std::mutex producer_;
    std::atomic<Clock::rep> lastFrame_{0};
    std::atomic<bool> framePosted_{false};
    std::atomic<bool> live_{false};
    // The source's picture size and the size it is shown at, for the camera thread's report.
    std::atomic<int> inputWidth_{0};
    std::atomic<int> inputHeight_{0};
    std::atomic<int> shownWidth_{0};
    std::atomic<int> shownHeight_{0};
    // The streaming thread's own: the scaled planes, and the size they were made for.
    std::vector<std::uint8_t> scaled_;
    FrameRect fit_{};

    // The camera thread's own.
    Pipeline pipeline_;
    GstElement* sink_ = nullptr;  // owned by pipeline_
    int bufferingTens_ = -1;      // how full the pipeline's buffer was last said to be
    SourceState life_;
    std::chrono::system_clock::time_point builtAt_{};

    std::thread thread_;
};

}  // namespace kesmacap
