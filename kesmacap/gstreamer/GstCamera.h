#pragma once

#include <gst/gst.h>

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "kesmacap/card/Channel.h"
#include "kesmacap/card/SourceLife.h"
#include "kesmacap/gstreamer/BusRules.h"
#include "kesmacap/gstreamer/CameraPipeline.h"
#include "kesmacap/gstreamer/ChallengeAsker.h"
#include "kesmacap/gstreamer/FramePainter.h"
#include "kesmacap/gstreamer/NewsFilter.h"
#include "kesmacap/sources/SourcesFile.h"

namespace kesmacap {

// One channel's source, on a thread of its own that carries out what
// SourceLife decides: it feeds it the viewer's commands, what the pipeline
// (a CameraPipeline) says on its bus and the frames, and waits on its own bus
// up to the next deadline. A dead camera therefore never stalls another, and
// start and stop only tell the thread what is wanted: they never wait on the
// network.
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
    struct BusUnref {
        void operator()(GstBus* bus) const { gst_object_unref(bus); }
    };
    using Clock = SourceClock;

    void run();
    void feed(const SourceEvent& event, Clock::time_point now);
    // The newest picture, fed before anything the pipeline said after it.
    void feedFrames();
    void build();
    void tearDown();
    void handle(GstMessage* message, Clock::time_point now);
    void handleError(GstMessage* message, Clock::time_point now);
    void handleElement(GstMessage* message, Clock::time_point now);
    SourceEvent loginRefused();
    void showStatus(const SourceStep& step, Clock::time_point now);
    void report(const std::string& line) const;
    void wake(const char* why) const;

    const int index_;
    const SourceUri source_;
    // Said instead of playing: no source configured, or one that is no URI.
    const std::string cannotPlay_;
    // The camera's bus: the pipeline's messages are forwarded to it, the
    // viewer's commands and the first frame wake it.
    const std::unique_ptr<GstBus, BusUnref> bus_;
    FramePainter painter_;

    // What start and stop want; the thread does it.
    std::mutex mutex_;
    SourceCommands commands_;

    // The camera thread's own.
    std::unique_ptr<CameraPipeline> pipeline_;
    // What the pipeline plays: the named URI, or where an HTTP camera sent us on to.
    CameraTarget target_;
    int redirects_ = 0;       // in this attempt
    std::string redirectTo_;  // the Location of the redirect the source was answered with
    bool rangesAccepted_ = false;
    Buffering buffering_;
    SourceState life_;
    NewsFilter news_;
    // Asked at the first refused login of a start, its answer kept until the next.
    std::unique_ptr<ChallengeAsker> challenges_;

    std::thread thread_;
};

}  // namespace kesmacap
