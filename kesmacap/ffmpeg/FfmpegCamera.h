#pragma once

extern "C" {
#include <libavformat/avio.h>
#include <libavutil/frame.h>
}

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "kesmacap/card/Channel.h"
#include "kesmacap/card/SourceLife.h"
#include "kesmacap/ffmpeg/FfmpegStream.h"
#include "kesmacap/ffmpeg/FfmpegTarget.h"
#include "kesmacap/ffmpeg/FramePacer.h"
#include "kesmacap/ffmpeg/PicturePainter.h"
#include "kesmacap/sources/SourcesFile.h"

namespace kesmacap {

// One channel's source, on a thread of its own that carries out what
// SourceLife decides. The thread itself opens and reads the source, blocking
// in FFmpeg, which asks an interrupt callback all along: start, stop and
// quit, and the state's deadline, cut any call short. A dead camera
// therefore never stalls another, and start and stop never wait on the
// network.
class FfmpegCamera {
  public:
    // uri: what the settings name for this camera, or nothing; sourcesFile:
    // where a missing camera is to be added.
    FfmpegCamera(Channel& channel, int index, const std::optional<std::string>& uri,
                 const std::string& sourcesFile);
    ~FfmpegCamera();
    FfmpegCamera(const FfmpegCamera&) = delete;
    FfmpegCamera& operator=(const FfmpegCamera&) = delete;

    void start();
    void stop();
    // Tells the thread to close its source and end, without waiting: the
    // destructor waits. Telling all cameras first, they close at once.
    void quit();

    // FFmpeg's RTSP client, sent on by a camera, says where (`url`) and goes
    // there with the password. Said by the demuxer whose interrupt callback
    // is `interrupt`, on its own thread: for one of these cameras, with
    // credentials, to another origin, that call is cut before it sends anything.
    static void redirected(const AVIOInterruptCB& interrupt, const std::string& url);

  private:
    using Clock = SourceClock;
    // A source being closed (an RTSP camera sent its TEARDOWN), whether it
    // was fully opened or not, gets this long, whatever else is wanted meanwhile.
    static constexpr std::chrono::seconds CloseLimit{1};

    struct FrameFree {
        void operator()(AVFrame* frame) const { av_frame_free(&frame); }
    };

    void run();
    void feed(const SourceEvent& event, Clock::time_point now);
    // One step of the source, blocking: opening it, reading its next
    // picture, or showing that picture when it is due.
    void serve();
    void open();
    void read();
    void show();
    void tearDown();
    // Every stream ends here, opened or opened partway: it gets CloseLimit.
    void close(std::unique_ptr<FfmpegStream> stream);
    // Whether a call that failed with `error` was cut short by a command or the deadline.
    bool cutShort(int error) const;
    // Waits until `until` (true), a command (false) or for ever when `until` is max().
    bool waitUntil(Clock::time_point until);
    // Marks a command (under the lock) and wakes the thread wherever it waits.
    void commandLocked();
    static int interrupted(void* camera);
    void showStatus(const SourceStep& step, Clock::time_point now);
    // An error's event; a refused RTSP login judged by the camera's challenges.
    SourceEvent eventFor(int error, const std::string& detail);
    void report(const std::string& line) const;

    const int index_;
    const SourceUri source_;
    const FfmpegTarget target_;
    // Said instead of playing: no source configured, or one that cannot be opened.
    const std::string cannotPlay_;
    PicturePainter painter_;

    // What start and stop want; the thread does it.
    std::mutex mutex_;
    std::condition_variable wakeUp_;
    SourceCommands commands_;
    // Read by the interrupt callback, as steady clock ticks: a command came;
    // FFmpeg's calls end by this time; a source being closed ends by that.
    std::atomic<bool> commanded_{false};
    std::atomic<Clock::rep> cutOff_{Clock::time_point::max().time_since_epoch().count()};
    std::atomic<bool> closing_{false};
    std::atomic<Clock::rep> closeBy_{0};
    // Sent on elsewhere with the password, while opening; and where to, masked.
    std::atomic<bool> redirected_{false};
    std::string redirectedTo_;

    // The camera thread's own.
    SourceState life_;
    std::unique_ptr<FfmpegStream> stream_;
    bool opening_ = false;  // built: to be opened
    const std::unique_ptr<AVFrame, FrameFree> frame_{av_frame_alloc()};
    bool pictureDue_ = false;  // frame_ holds a picture to show at due_
    Clock::time_point due_{};
    FramePacer pacer_;
    bool live_ = false;
    // An RTSP camera's challenges, asked at its first refused login of a start.
    std::optional<std::vector<std::string>> challenges_;

    std::thread thread_;
};

}  // namespace kesmacap
