#pragma once

#include <gst/gst.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "kesmacap/card/Channel.h"

namespace kesmacap {

// One channel's source: its own pipeline (uridecodebin -> videoconvert to
// I420 -> videoscale fitting 640 x 480 with black borders -> an appsink that
// keeps the newest frame, turned into B, G, R on its way into the channel) and its own thread, which builds
// and tears down the pipeline, reads its bus and watches for silence. A dead camera therefore never stalls
// another, and start, stop and close only tell the thread what is wanted: they never wait on the network.
//
// While a started channel has no video (not configured, connecting, lost, no
// frame for 3 s) it shows a picture of its own saying why, and a lost source
// is built again in the background: 1 s later, then at most 5 s apart.
class GstCamera {
  public:
    static constexpr std::chrono::milliseconds Silence{3000};
    static constexpr std::chrono::milliseconds FirstRetry{1000};
    static constexpr std::chrono::milliseconds LongestRetry{5000};

    // uri: what the settings name for this camera, or nothing.
    GstCamera(Channel& channel, int index, std::optional<std::string> uri);
    ~GstCamera();
    GstCamera(const GstCamera&) = delete;
    GstCamera& operator=(const GstCamera&) = delete;

    void start();
    void stop();

  private:
    struct PipelineDeleter {
        void operator()(GstElement* pipeline) const;
    };
    using Pipeline = std::unique_ptr<GstElement, PipelineDeleter>;
    enum class State { Idle, NotConfigured, Connecting, Live, Lost };
    using Clock = std::chrono::steady_clock;

    void run();
    // Stops and drops the pipeline; no frame comes from it afterwards.
    void tearDown();
    void serve(Clock::time_point now);
    void build(Clock::time_point now);
    void readBus(Clock::time_point now);
    // Notes the frames that came: the channel is live.
    void noteFrames(Clock::time_point now);
    Clock::time_point lastFrame() const;
    void lose(const std::string& reason, Clock::time_point now);
    void showStatus(const std::string& reason);
    void report(const std::string& what) const;

    static GstFlowReturn onSample(GstElement* sink, gpointer camera);
    static void onPadAdded(GstElement* decoder, GstPad* pad, gpointer convert);
    static void onSourceSetup(GstElement* decoder, GstElement* source, gpointer camera);

    Channel& channel_;
    const int index_;
    const std::optional<std::string> uri_;
    const std::string shown_;        // the source as it may be shown: credentials masked
    const std::string credentials_;  // what never leaves the library: masked in error texts too
    const bool live_;                // a camera or stream rather than a file

    // What start and stop want; the thread does it.
    std::mutex mutex_;
    std::condition_variable changed_;
    bool wanted_ = false;
    unsigned generation_ = 0;  // counts starts, so a quick stop and start still rebuilds
    bool quit_ = false;

    // The streaming thread's side: frames into the channel, under producer_,
    // which the status picture takes too.
    std::mutex producer_;
    std::atomic<Clock::rep> lastFrame_{0};

    // The camera thread's own.
    Pipeline pipeline_;
    State state_ = State::Idle;
    unsigned served_ = 0;
    Clock::time_point builtAt_{};
    Clock::time_point retryAt_{};
    std::chrono::milliseconds backoff_ = FirstRetry;
    std::string shownReason_;
    std::chrono::system_clock::time_point lastSeen_{};
    bool everSeen_ = false;

    std::thread thread_;
};

}  // namespace kesmacap
