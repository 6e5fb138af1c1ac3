#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "kesmacap/card/Card.h"
#include "kesmacap/card/SourceLife.h"
#include "kesmacap/v4l2/FramePlacer.h"
#include "kesmacap/v4l2/InputRotation.h"
#include "kesmacap/v4l2/V4l2Device.h"

namespace kesmacap {

// One capture node and the windows that show its inputs, on a thread of its
// own: nothing that happens to one device (a hang-up, an error, a slow
// driver) reaches another's.
//
// Each window's source goes through SourceLife (a lost device, an input
// without signal, a silent stream: the status picture, and another try after
// the back-off), the node's inputs through InputRotation (whose turn, what is
// dropped, when standard and status are read); this class carries out what
// they decide on the device.
//
// The thread waits in poll on its wake-up, and on the device while it
// streams, until the next deadline: a window's or the rotation's.
class V4l2Node {
  public:
    struct Member {
        int channel = 0;
        V4l2Settings settings;
        std::string shown;  // the source in the status picture
    };
    // What the viewer asked of a window.
    struct Command {
        bool open = false;
        bool wanted = false;
        unsigned generation = 0;  // of starts
    };
    // A window on its way from one node to another, with what the viewer asked of it.
    struct Window {
        Member member;
        Command command;
    };
    // Where nodes find each other: which holds which device, and a window's
    // move to the node that holds its device.
    class Directory {
      public:
        virtual ~Directory() = default;
        // Records that `node` holds the device; the node that already does, if another.
        virtual V4l2Node* claim(dev_t device, V4l2Node& node) = 0;
        virtual void release(dev_t device, const V4l2Node& node) = 0;
        // Called by `from`'s thread: its windows go to `to`.
        virtual void move(V4l2Node& from, V4l2Node& to) = 0;
    };
    // How long start, stop and close wait for the thread to act on them.
    static constexpr std::chrono::milliseconds CommandLimit{3000};

    V4l2Node(V4l2System& system, Channels& channels, Directory& directory, std::string device,
             std::vector<Member> members);
    ~V4l2Node();
    V4l2Node(const V4l2Node&) = delete;
    V4l2Node& operator=(const V4l2Node&) = delete;

    // Records a command for the thread (generation: 1 for a start, else
    // ignored); the request to await.
    std::uint64_t post(int channel, const Command& change);
    // Returns once the thread has acted on the request (the device streaming,
    // or let go), or after CommandLimit.
    void await(std::uint64_t request);
    // Under the directory's lock: the windows leave, or arrive.
    std::vector<Window> give();
    void adopt(std::vector<Window> windows);

  private:
    using Clock = SourceClock;
    struct Slot {
        Member member;
        SourceState life;
        unsigned served = 0;
        int input = 0;  // the rotation's number of its input: the first slot's showing it
        bool awaitingSignal = false;
        std::optional<std::uint32_t> deviceInput;  // the device's index of its input, once selected
    };

    void run();
    void obey(const std::map<int, Command>& commands);
    void feed(std::size_t slot, const SourceEvent& event);
    DeviceProblem build(std::size_t slot);
    void fail(std::size_t slot, const DeviceProblem& problem);
    bool running(const Slot& slot) const;
    bool wanted(const Slot& slot) const;
    std::vector<RotationWindow> windows() const;
    void turn(RotationEventKind event);
    void carryOut(const RotationStep& step);
    void select(int input);
    void loseInput(const std::string& reason, bool signal);
    void watchSignal();
    void handleDevice(short revents);
    void takeFrame();
    void deliver(const CapturedFrame& frame);
    void loseDevice(const std::string& reason);
    void closeDevice();
    void show(std::size_t slot, const std::string& reason);
    void report(std::size_t slot, const std::string& what) const;
    void wake() const;

    Channels& channels_;
    V4l2System& system_;
    Directory& directory_;
    const std::string path_;
    V4l2Device device_;
    FramePlacer placer_;
    // The thread's alone.
    std::vector<Slot> slots_;
    RotationState rotation_;
    std::optional<dev_t> claimed_;  // the device held in the directory
    V4l2Node* moveTo_ = nullptr;    // the node that holds this node's device

    mutable std::mutex mutex_;
    std::condition_variable acted_;
    std::map<int, Command> commands_;  // by channel
    std::vector<Member> incoming_;     // windows not yet taken by the thread
    std::uint64_t requested_ = 0;
    std::uint64_t done_ = 0;
    bool quit_ = false;
    int wake_ = -1;
    std::thread thread_;
};

}  // namespace kesmacap
