#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "kesmacap/card/Card.h"
#include "kesmacap/card/SourceLife.h"
#include "kesmacap/v4l2/FramePlacer.h"
#include "kesmacap/v4l2/V4l2Device.h"

namespace kesmacap {

// One capture node and the windows that show its inputs, on a thread of its
// own: nothing that happens to one device (a hang-up, an error, a slow
// driver) reaches another's.
//
// Each window's source goes through SourceLife: a lost device, an input
// without signal and a silent stream show the status picture and are tried
// again in the background; a device that comes back under its name is
// reopened. Windows on different inputs of the node take turns: streaming
// stops, the next input and its standard are selected, streaming restarts,
// the settling frames are dropped and one frame is shown.
//
// The thread waits in poll on its wake-up, and on the device while it
// streams, until the next deadline: a source's, or the next look at the
// inputs' signal status.
class V4l2Node {
  public:
    struct Member {
        int channel = 0;
        V4l2Settings settings;
        std::string shown;  // the source in the status picture
    };
    // Frames dropped after switching inputs, while the decoder locks to the new one.
    static constexpr int SettlingFrames = 1;
    // How often the signal status of the inputs shown is read.
    static constexpr std::chrono::milliseconds SignalCheck{1000};
    // How long start, stop and close wait for the thread to act on them.
    static constexpr std::chrono::milliseconds CommandLimit{3000};

    V4l2Node(V4l2System& system, Channels& channels, std::string device, std::vector<Member> members);
    ~V4l2Node();
    V4l2Node(const V4l2Node&) = delete;
    V4l2Node& operator=(const V4l2Node&) = delete;

    bool serves(int channel) const;
    // Each returns once the thread has acted on it (the device streaming, or
    // let go), or after CommandLimit.
    void start(int channel);
    void stop(int channel);
    void close(int channel);

  private:
    using Clock = SourceClock;
    struct Command {
        bool open = false;
        bool wanted = false;
        unsigned generation = 0;  // of starts
    };
    struct Slot {
        Member member;
        SourceState life;
        unsigned served = 0;
        bool inRotation = false;      // built: shown when its input's turn comes
        bool watchingSignal = false;  // lost for want of signal: its input is watched
        std::uint32_t input = 0;      // the input index it resolved to
    };

    void command(int channel, const Command& change);
    void run();
    void feed(std::size_t slot, const SourceEvent& event);
    DeviceProblem build(std::size_t slot);
    void fail(std::size_t slot, const DeviceProblem& problem);
    void refuse(std::size_t slot, const std::string& reason);
    void rotate();
    DeviceProblem switchTo(std::size_t slot);
    void handleDevice(short revents);
    void deliver(const CapturedFrame& frame);
    void lose(const std::string& reason);
    void checkSignals();
    bool sameInput(std::size_t a, std::size_t b) const;
    void show(std::size_t slot, const std::string& reason);
    void report(std::size_t slot, const std::string& what) const;
    void wake() const;

    Channels& channels_;
    V4l2System& system_;
    const std::string path_;
    V4l2Device device_;
    FramePlacer placer_;
    std::vector<Slot> slots_;  // the thread's alone
    int current_ = -1;         // the slot whose input the device is set to
    bool turnOver_ = false;    // the current input had its frame: the next one's turn
    int settle_ = 0;
    bool statusDue_ = false;  // read the signal status before showing the next frame
    Clock::time_point nextCheck_ = Clock::time_point::max();

    mutable std::mutex mutex_;
    std::condition_variable acted_;
    std::vector<Command> commands_;
    std::uint64_t requested_ = 0;
    std::uint64_t done_ = 0;
    bool quit_ = false;
    int wake_ = -1;
    std::thread thread_;
};

}  // namespace kesmacap
