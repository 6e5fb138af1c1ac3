// Whose turn it is on a capture node that windows on different inputs share,
// as a pure function, so that the rules are tested without a device. The node
// streams one input at a time: a turn selects the input, drops the frames its
// decoder needs to lock on, detects its standard and reads its status once a
// field of it has been measured, and shows one frame; then the next input
// waiting has its turn. Status is read only for the input selected (drivers
// report 0 for the others).
//
// An input that brings no good frame within its turn's limit, or whose status
// says it has no signal, loses its windows: SourceLife retries them after its
// back-off (1 s, then up to 5 s), so a dead input costs the live ones one turn
// now and then, not one every second.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>

#include "kesmacap/card/SourceLife.h"

namespace kesmacap {

// One window as the rotation sees it.
struct RotationWindow {
    int input = 0;                // windows on one input of the node share the number
    bool wanted = false;          // built (connecting or live): takes turns
    bool awaitingSignal = false;  // lost for want of a signal, waiting to be retried
};

enum class RotationEventKind : std::uint8_t {
    Changed,          // windows built or torn down, the device opened: whose turn it is
    Frame,            // a good frame
    BrokenFrame,      // a frame the driver flagged V4L2_BUF_FLAG_ERROR
    SourceChange,     // the input's signal, standard or timings changed: select it again
    StandardChanged,  // the standard detected is not the one set: select the input again
    Failed,           // the device could not select or stream the input; it no longer streams
    Closed,           // the device was closed: its input is not known any more
    Timer,            // the state's deadline has come (or a spurious wake-up)
};

struct RotationState {
    int input = -1;  // the input the device is set to; -1: not known
    bool streaming = false;
    bool turnOver = false;     // the input had its frame, or lost its turn
    int settle = 0;            // frames still to drop
    bool standardDue = false;  // detected at the first frame after settling
    bool statusDue = false;    // read at the first frame after settling
    SourceClock::time_point turnEnds = SourceClock::time_point::max();  // the turn's limit
    SourceClock::time_point statusAt = SourceClock::time_point::max();  // the next look at the status
    SourceClock::time_point deadline = SourceClock::time_point::max();  // of the next Timer
};

// What the node does, in this order.
struct RotationStep {
    RotationState state;
    bool stop = false;          // stop streaming
    std::optional<int> select;  // select this input (again) and stream it
    // Of a frame or a time limit, in this order; the first that finds a problem ends the list.
    bool detectStandard = false;  // the input's standard: StandardChanged follows when it is another
    bool readStatus = false;      // the input's status: no signal, no lock ... loses its windows
    bool show = false;            // the frame goes to the input's windows
    bool lose = false;            // its windows are lost anyway: no picture in its turn
    // Nothing streams and the device is set to the input of windows awaiting a
    // signal: whether the signal is back (they are then built at once).
    bool watch = false;
};

struct InputRotation {
    // Frames dropped after a switch to another input (or a restart), while the decoder locks on.
    static constexpr int SettlingFrames = 1;
    // A turn without a good frame by then ends, and its input loses its windows,
    // when another input waits: twelve PAL frames, where a switch takes two or three.
    static constexpr std::chrono::milliseconds TurnLimit{500};
    // How often the status of an input streamed alone, or of one awaiting its signal, is read.
    static constexpr std::chrono::milliseconds SignalCheck{1000};

    static RotationStep advance(const RotationState& state, RotationEventKind event,
                                std::span<const RotationWindow> windows, SourceClock::time_point now);
};

}  // namespace kesmacap
