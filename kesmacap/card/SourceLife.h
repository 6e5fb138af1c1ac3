// The life of one channel's source (a network camera, a file, a device): when
// to build it, when to give up on it, what the channel shows meanwhile and
// when to try again. A pure function, so that every library drives its
// sources the same way and the rules are tested without a network.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kesmacap {

using SourceClock = std::chrono::steady_clock;

enum class SourcePhase : std::uint8_t {
    Stopped,     // not wanted: nothing built
    Connecting,  // built, no picture yet: has its own grace
    Live,        // pictures coming: watched for silence
    Retrying,    // lost or ended: torn down, built again when the timer is due
    Refused,     // cannot work until the next start: nothing built, the reason shown
};

enum class SourceEventKind : std::uint8_t {
    Start,         // the viewer starts the channel (again: from the beginning)
    Stop,          // the viewer stops it
    Close,         // the viewer closes it
    Frame,         // a picture came, at the time given
    Error,         // the source failed; reason says why
    LoginRefused,  // the source refused the credentials; reason says why
    Refused,       // trying again cannot help until the next start (a format it cannot show)
    EndOfStream,   // a live source said it has nothing more
    Ended,         // a recording (a file, a snapshot) played to its end
    Connected,     // the source answered, or is back; reason says what it sends
    Progress,      // the source is heard from without a picture (buffering): alive
    Timer,         // the deadline of the state has come (or a spurious wake-up)
};

struct SourceEvent {
    SourceEventKind kind;
    std::string reason;
    // Of Ended: the source can be sought back to its start (else it is built anew).
    bool rewindable = false;
};

// What the channel shows while it has no picture.
enum class SourceStatus : std::uint8_t {
    Connecting,  // built, nothing heard yet
    Connected,   // answered, the first picture not yet come
    Failed,      // never brought a picture since the start; trying again
    NoSignal,    // brought pictures, then none; trying again
    Refused,     // not tried again until the next start
};

struct SourceState {
    SourcePhase phase = SourcePhase::Stopped;
    // When the timer is due: the end of the grace or of the silence, or the retry.
    SourceClock::time_point deadline = SourceClock::time_point::max();
    SourceClock::time_point lastFrame{};
    bool everLive = false;      // since the last start
    bool lossReported = false;  // since the last start or picture
    std::chrono::milliseconds backoff{0};
    int loginsRefused = 0;                 // since the last start
    SourceClock::time_point playedFrom{};  // the last build or rewind
    bool rewindDue = false;                // a recording at its end, sought back at the deadline
};

// What the library does, in this order: tear the source down, build it, show
// the status picture; then wait until the new state's deadline.
struct SourceStep {
    SourceState state;
    bool tearDown = false;
    bool build = false;
    bool show = false;
    bool rewind = false;  // seek the source back to its start (instead of building it anew)
    SourceStatus status = SourceStatus::Connecting;
    std::string reason;  // of the status shown
    // The first picture after a start or a loss, or the first loss after
    // pictures or a start: the moments worth a line on standard error.
    bool news = false;
};

struct SourceLife {
    // A camera that is connecting: long enough for RTSP's fall-back from UDP
    // to TCP and an H.264 camera's first key frame.
    static constexpr std::chrono::milliseconds ConnectGrace{10000};
    // A source that brought pictures and then none for this long is lost.
    static constexpr std::chrono::milliseconds Silence{3000};
    static constexpr std::chrono::milliseconds FirstRetry{1000};
    static constexpr std::chrono::milliseconds LongestRetry{5000};
    // Attempts at a login the source refuses, per start: cameras lock the
    // account (and often the client's address) after a handful.
    static constexpr int MostLogins = 3;
    // A recording that ended is played again at most this often: a snapshot
    // URL (one JPEG) is otherwise fetched in a tight loop.
    static constexpr std::chrono::milliseconds ReplayInterval{1000};

    static SourceStep advance(const SourceState& state, const SourceEvent& event,
                              SourceClock::time_point now);
    // The status picture's line for a step that shows one, with the time of
    // day; `failing` says what a source that never brought a picture cannot do.
    static std::string describe(const SourceStep& step, SourceClock::time_point now,
                                std::string_view failing = "Cannot play");
};

// The viewer's commands to a source, as a source's thread reads them: set by
// the viewer's threads under the source's lock, copied out by its own.
struct SourceCommands {
    bool wanted = false;      // started, and not stopped since
    unsigned generation = 0;  // counts starts, so a quick stop and start still rebuilds
    bool quit = false;        // the channel's source is being destroyed

    void start() {
        wanted = true;
        ++generation;
    }
    void stop() { wanted = false; }

    // The event the commands make for a source in `phase` that last served
    // the start numbered `served` (updated to this one): Close to quit, Start
    // for a start not yet served, Stop for a source stopped while running;
    // nothing when the source already does what they ask.
    std::optional<SourceEventKind> event(unsigned& served, SourcePhase phase) const;
};

}  // namespace kesmacap
