#pragma once

#include <linux/videodev2.h>

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "kesmacap/pictures/Picture.h"
#include "kesmacap/v4l2/FramePlacer.h"
#include "kesmacap/v4l2/V4l2Settings.h"
#include "kesmacap/v4l2/V4l2System.h"

namespace kesmacap {

// Why a device cannot capture as asked, in words for the status picture;
// lasting when trying again cannot help (no such input, only H.264 ...).
struct DeviceProblem {
    std::string reason;
    bool lasting = false;
    bool signal = false;  // the input has no usable signal: worth watching for its return
    explicit operator bool() const { return !reason.empty(); }
};

// One capture node: its input, standard or DV timings and format (a YUV one
// it sends itself, else BGR24) set as a window's settings ask (640 x 480
// asked, what the driver settles on taken), its fastest frame rate,
// memory-mapped buffers requested at the first start and kept while the
// format stays, streaming on and off, and one frame at a time. The standard
// of an input left to "auto" is detected only once the input has settled
// (detectStandard), and kept for its next turns. Used by one thread.
class V4l2Device {
  public:
    static constexpr unsigned BufferCount = 4;

    explicit V4l2Device(V4l2System& system) : system_(system) {}
    ~V4l2Device() { close(); }
    V4l2Device(const V4l2Device&) = delete;
    V4l2Device& operator=(const V4l2Device&) = delete;

    // Opens a streaming capture node; an encoder's read()-only node is refused.
    DeviceProblem open(const std::string& path);
    // Stops streaming, releases the buffers and closes.
    void close();
    bool isOpen() const { return fd_ >= 0; }
    // Whether the open node is still there: an unplugged one answers ENODEV.
    bool answers() const;
    int descriptor() const { return fd_; }

    // Selects the input and its standard (an "auto" one as last detected on
    // it, else the one set) or DV timings, moves the subscription to source
    // changes to that input and negotiates the format; streaming stops first.
    // Buffers are released where a change needs it.
    DeviceProblem configure(const V4l2Settings& settings);
    // Of an input configured for "auto", once a field of it has been measured:
    // asks its standard and keeps it; whether it is not the one set (configure
    // again to take it). False when the driver cannot tell.
    bool detectStandard();
    // What the selected input's status says is wrong ("no signal" ...), or
    // nothing. Drivers report status for the selected input only.
    std::string signalProblem() const;
    // The input the device is set to.
    std::uint32_t input() const { return input_; }

    DeviceProblem startStreaming();
    void stopStreaming();
    bool isStreaming() const { return streaming_; }

    // Takes the events queued; whether any was a source change of the selected
    // input (new timings, a standard or a signal come or gone).
    bool takeSourceChanges();
    // Dequeues one ready frame, hands it to `use` (nullptr when the driver
    // flagged it broken) and queues the buffer again; 0, or the errno when the device failed.
    int takeFrame(const std::function<void(const CapturedFrame*)>& use);

  private:
    struct Mapping {
        void* address = nullptr;
        std::size_t length = 0;
    };

    DeviceProblem selectInput(const V4l2Settings& settings);
    DeviceProblem selectStandard(const V4l2Settings& settings, const v4l2_input& input);
    DeviceProblem selectTimings();
    void watchSourceChanges();
    void unwatchSourceChanges();
    DeviceProblem negotiateFormat();
    // Runs a setting that drivers refuse while buffers exist: again, without them, when refused.
    int setReleasing(unsigned long request, void* argument);
    std::string formatsOffered() const;
    void setFastestFrameRate(const v4l2_pix_format& format) const;
    DeviceProblem requestBuffers();
    void releaseBuffers();

    // What the format was negotiated for: it is asked again when any of it changes.
    static constexpr std::uint32_t StandardInputs = 0xffff'0000;  // any analogue input
    static constexpr std::uint32_t TimingsInputs = 0xffff'0001;   // any DV input
    struct Negotiated {
        std::uint32_t input = 0;  // a camera input's index, or one of the kinds above
        v4l2_std_id standard = 0;
        std::uint32_t width = 0;  // of the DV timings
        std::uint32_t height = 0;
        bool operator==(const Negotiated&) const = default;
    };

    V4l2System& system_;
    int fd_ = -1;
    std::optional<Negotiated> negotiated_;
    std::uint32_t input_ = 0;
    std::optional<std::uint32_t> subscribed_;        // the input whose source changes are subscribed
    bool detecting_ = false;                         // the input's standard is "auto"
    std::map<std::uint32_t, v4l2_std_id> detected_;  // per input, since the open
    v4l2_pix_format format_{};
    bool fourByThree_ = false;
    v4l2_std_id standard_ = 0;  // the standard configure set, or 0
    std::vector<Mapping> buffers_;
    bool streaming_ = false;
};

// Why VIDIOC_S_FMT failed (or, as EINVAL, answered a format that cannot be
// shown), naming the formats the device offers: lasting only for a format it
// cannot send; a busy, unplugged or failing device may do better later.
DeviceProblem FormatProblem(int error, const std::string& offered);

// Words for an errno, as strerror gives them.
std::string ErrorText(int error);

}  // namespace kesmacap
