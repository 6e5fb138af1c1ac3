// A source's life as a table: from a start through connecting, pictures,
// silence, failures and retries to a stop, each row an event at a time and
// what the library is to do; then where a picture goes in the frame.
#include <gtest/gtest.h>

#include "kesmacap/card/Letterbox.h"
#include "kesmacap/card/SourceLife.h"

namespace kesmacap {
namespace {

using namespace std::chrono_literals;
using Kind = SourceEventKind;
using Phase = SourcePhase;
using Status = SourceStatus;

// A row's event: a kind alone, or an event with its reason or flag (implicit, so rows read as tables).
struct Event : SourceEvent {
    Event(Kind kind) : SourceEvent{kind, "why"} {}               // NOLINT(google-explicit-constructor)
    Event(SourceEvent event) : SourceEvent(std::move(event)) {}  // NOLINT(google-explicit-constructor)
};

struct Row {
    std::chrono::milliseconds at;  // since the first row
    Event event;
    Phase phase;
    bool tearDown, build, show;
    Status status;                       // when shown
    std::chrono::milliseconds deadline;  // since the first row; -1: none
    bool news;
    bool rewind = false;
};

constexpr auto None = std::chrono::milliseconds(-1);

void play(const std::vector<Row>& rows) {
    const SourceClock::time_point origin{};
    SourceState state;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const Row& row = rows[i];
        const SourceStep step = SourceLife::advance(state, row.event, origin + row.at);
        SCOPED_TRACE("row " + std::to_string(i + 1));
        EXPECT_EQ(step.state.phase, row.phase);
        EXPECT_EQ(step.tearDown, row.tearDown);
        EXPECT_EQ(step.build, row.build);
        EXPECT_EQ(step.show, row.show);
        if (row.show) {
            EXPECT_EQ(step.status, row.status);
        }
        EXPECT_EQ(step.state.deadline,
                  row.deadline == None ? SourceClock::time_point::max() : origin + row.deadline);
        EXPECT_EQ(step.news, row.news);
        EXPECT_EQ(step.rewind, row.rewind);
        state = step.state;
    }
}

// clang-format off
TEST(SourceLife, ACameraThatComesGoesAndComesBack) {
    play({
        //  at      event              phase              tear   build  show   status              deadline  news
        {     0ms, Kind::Start,       Phase::Connecting, false, true,  true,  Status::Connecting, 10000ms, false},
        {  2500ms, Kind::Connected,   Phase::Connecting, false, false, true,  Status::Connected,  10000ms, false},
        {  3000ms, Kind::Timer,       Phase::Connecting, false, false, false, {},                 10000ms, false},  // spurious
        {  9000ms, Kind::Frame,       Phase::Live,       false, false, false, {},                 12000ms, true },  // in the grace
        {  9500ms, Kind::Frame,       Phase::Live,       false, false, false, {},                 12500ms, false},
        {  9600ms, Kind::Connected,   Phase::Live,       false, false, false, {},                 12600ms, false},  // heard from
        { 12600ms, Kind::Timer,       Phase::Retrying,   true,  false, true,  Status::NoSignal,   13600ms, true },
        { 12700ms, Kind::Frame,       Phase::Retrying,   false, false, false, {},                 13600ms, false},  // torn down
        { 13600ms, Kind::Timer,       Phase::Connecting, false, true,  false, {},                 23600ms, false},
        { 14000ms, Kind::Error,       Phase::Retrying,   true,  false, true,  Status::NoSignal,   16000ms, false},
        { 16000ms, Kind::Timer,       Phase::Connecting, false, true,  false, {},                 26000ms, false},
        { 16100ms, Kind::EndOfStream, Phase::Retrying,   true,  false, true,  Status::NoSignal,   20100ms, false},
        { 20100ms, Kind::Timer,       Phase::Connecting, false, true,  false, {},                 30100ms, false},
        { 30100ms, Kind::Timer,       Phase::Retrying,   true,  false, true,  Status::NoSignal,   35100ms, false},  // 5 s at most
        { 35100ms, Kind::Timer,       Phase::Connecting, false, true,  false, {},                 45100ms, false},
        { 36000ms, Kind::Frame,       Phase::Live,       false, false, false, {},                 39000ms, true },  // back: 1 s again
        { 37000ms, Kind::Error,       Phase::Retrying,   true,  false, true,  Status::NoSignal,   38000ms, true },
        { 37500ms, Kind::Stop,        Phase::Stopped,    true,  false, false, {},                 None,    false},
        { 38000ms, Kind::Timer,       Phase::Stopped,    false, false, false, {},                 None,    false},
        { 38100ms, Kind::Frame,       Phase::Stopped,    false, false, false, {},                 None,    false},
    });
}

TEST(SourceLife, ACameraThatNeverAnswersAndRestarts) {
    play({
        {     0ms, Kind::Start,       Phase::Connecting, false, true,  true,  Status::Connecting, 10000ms, false},
        { 10000ms, Kind::Timer,       Phase::Retrying,   true,  false, true,  Status::Failed,     11000ms, true },
        { 11000ms, Kind::Timer,       Phase::Connecting, false, true,  false, {},                 21000ms, false},
        { 12000ms, Kind::Error,       Phase::Retrying,   true,  false, true,  Status::Failed,     14000ms, false},
        { 12500ms, Kind::Connected,   Phase::Connecting, false, true,  false, {},                 22500ms, false},  // back by itself
        { 13000ms, Kind::Start,       Phase::Connecting, true,  true,  true,  Status::Connecting, 23000ms, false},  // F1 again
        { 13100ms, Kind::Error,       Phase::Retrying,   true,  false, true,  Status::Failed,     14100ms, true },
        { 13200ms, Kind::Close,       Phase::Stopped,    true,  false, false, {},                 None,    false},
        { 13300ms, Kind::Stop,        Phase::Stopped,    false, false, false, {},                 None,    false},
        { 13400ms, Kind::Error,       Phase::Stopped,    false, false, false, {},                 None,    false},
    });
}
TEST(SourceLife, ARefusedLoginIsTriedThreeTimesPerStartThenWaitsForF1) {
    const SourceEvent refusal{Kind::LoginRefused, "wrong password"};
    play({
        {     0ms, Kind::Start,       Phase::Connecting, false, true,  true,  Status::Connecting, 10000ms, false},
        {   100ms, refusal,           Phase::Retrying,   true,  false, true,  Status::Failed,      1100ms, true },
        {  1100ms, Kind::Timer,       Phase::Connecting, false, true,  false, {},                 11100ms, false},
        {  1200ms, Kind::Error,       Phase::Retrying,   true,  false, true,  Status::Failed,      3200ms, false},  // counts not
        {  3200ms, Kind::Timer,       Phase::Connecting, false, true,  false, {},                 13200ms, false},
        {  3300ms, refusal,           Phase::Retrying,   true,  false, true,  Status::Failed,      7300ms, false},
        {  7300ms, Kind::Timer,       Phase::Connecting, false, true,  false, {},                 17300ms, false},
        {  7400ms, Kind::Frame,       Phase::Live,       false, false, false, {},                 10400ms, true },  // a picture forgives nothing
        {  8000ms, refusal,           Phase::Refused,    true,  false, true,  Status::Refused,    None,    true },
        { 20000ms, Kind::Timer,       Phase::Refused,    false, false, false, {},                 None,    false},
        { 20100ms, Kind::Connected,   Phase::Refused,    false, false, false, {},                 None,    false},
        { 20200ms, Kind::Error,       Phase::Refused,    false, false, false, {},                 None,    false},
        { 30000ms, Kind::Start,       Phase::Connecting, false, true,  true,  Status::Connecting, 40000ms, false},  // F1: three more
        { 30100ms, refusal,           Phase::Retrying,   true,  false, true,  Status::Failed,     31100ms, true },
        { 30200ms, Kind::Refused,     Phase::Refused,    true,  false, true,  Status::Refused,    None,    true },  // for good
        { 30250ms, Kind::Refused,     Phase::Refused,    false, false, true,  Status::Refused,    None,    false},
        { 30300ms, Kind::Stop,        Phase::Stopped,    false, false, false, {},                 None,    false},
    });
    SourceState state = SourceLife::advance({}, Event(Kind::Start), {}).state;
    for (int attempt = 0; attempt < 3; ++attempt) {
        state = SourceLife::advance(state, refusal, {}).state;
        state = SourceLife::advance(state, Event(Kind::Start), {}).state;
    }
    EXPECT_EQ(SourceLife::advance(state, refusal, {}).state.phase, Phase::Retrying) << "each start counts anew";
    SourceState twice;
    twice.phase = Phase::Connecting;
    twice.loginsRefused = 2;
    EXPECT_EQ(SourceLife::describe(SourceLife::advance(twice, refusal, {}), {}),
              "wrong password; refused 3 times, so not tried again until F1");
}

TEST(SourceLife, ARecordingAtItsEndPlaysAgainAtMostOnceASecondKeepingItsPicture) {
    const SourceEvent rewindable{Kind::Ended, {}, true};
    const SourceEvent once{Kind::Ended, {}, false};  // a snapshot, or a server without ranges
    play({
        {     0ms, Kind::Start,       Phase::Connecting, false, true,  true,  Status::Connecting, 10000ms, false},
        {   200ms, Kind::Frame,       Phase::Live,       false, false, false, {},                  3200ms, true },
        {   300ms, once,              Phase::Retrying,   true,  false, false, {},                  1000ms, false},
        {  1000ms, Kind::Timer,       Phase::Connecting, false, true,  false, {},                 11000ms, false},
        {  1100ms, Kind::Frame,       Phase::Live,       false, false, false, {},                  4100ms, false},
        {  2500ms, once,              Phase::Retrying,   true,  false, false, {},                  2500ms, false},  // due already
        {  2500ms, Kind::Timer,       Phase::Connecting, false, true,  false, {},                 12500ms, false},
        {  2600ms, Kind::Frame,       Phase::Live,       false, false, false, {},                  5600ms, false},
        {  3000ms, rewindable,        Phase::Live,       false, false, false, {},                  3500ms, false},  // sought when due
        {  3500ms, Kind::Timer,       Phase::Live,       false, false, false, {},                  6500ms, false, true},
        {  3600ms, Kind::Frame,       Phase::Live,       false, false, false, {},                  6600ms, false},
        {  5000ms, rewindable,        Phase::Live,       false, false, false, {},                  8000ms, false, true},
        {  5100ms, Kind::Frame,       Phase::Live,       false, false, false, {},                  8100ms, false},
        {  6100ms, Kind::EndOfStream, Phase::Retrying,   true,  false, true,  Status::NoSignal,    7100ms, true },  // live: lost
        {  7100ms, Kind::Timer,       Phase::Connecting, false, true,  false, {},                 17100ms, false},
        {  7200ms, once,              Phase::Retrying,   true,  false, true,  Status::NoSignal,    9200ms, false},  // no picture: lost
        {  9200ms, Kind::Stop,        Phase::Stopped,    true,  false, false, {},                 None,    false},
        {  9300ms, once,              Phase::Stopped,    false, false, false, {},                 None,    false},
    });
}

TEST(SourceLife, BufferingProgressKeepsASourceAlive) {
    play({
        {     0ms, Kind::Start,       Phase::Connecting, false, true,  true,  Status::Connecting, 10000ms, false},
        {  8000ms, Kind::Progress,    Phase::Connecting, false, false, false, {},                 18000ms, false},
        { 17000ms, Kind::Progress,    Phase::Connecting, false, false, false, {},                 27000ms, false},
        { 18000ms, Kind::Frame,       Phase::Live,       false, false, false, {},                 21000ms, true },
        { 20000ms, Kind::Progress,    Phase::Live,       false, false, false, {},                 23000ms, false},  // stalled, filling
        { 20500ms, Kind::Progress,    Phase::Live,       false, false, false, {},                 23500ms, false},
        { 23500ms, Kind::Timer,       Phase::Retrying,   true,  false, true,  Status::NoSignal,   24500ms, true },
        { 23600ms, Kind::Progress,    Phase::Retrying,   false, false, false, {},                 24500ms, false},  // from one torn down
    });
}
// clang-format on

TEST(SourceCommands, EachStartServedOnceAStopOnlyWhileRunningAQuitFirst) {
    const auto kind = [](std::optional<SourceEventKind> event) {
        return event ? static_cast<int>(*event) : -1;
    };
    SourceCommands commands;
    unsigned served = 0;
    EXPECT_EQ(kind(commands.event(served, SourcePhase::Stopped)), -1) << "never started";
    commands.start();
    EXPECT_EQ(kind(commands.event(served, SourcePhase::Stopped)), static_cast<int>(SourceEventKind::Start));
    EXPECT_EQ(kind(commands.event(served, SourcePhase::Live)), -1) << "that start is served";
    // A stop and a start before the thread looks: the source is built anew all the same.
    commands.stop();
    commands.start();
    EXPECT_EQ(kind(commands.event(served, SourcePhase::Live)), static_cast<int>(SourceEventKind::Start));
    commands.stop();
    EXPECT_EQ(kind(commands.event(served, SourcePhase::Live)), static_cast<int>(SourceEventKind::Stop));
    EXPECT_EQ(kind(commands.event(served, SourcePhase::Stopped)), -1);
    commands.start();
    commands.quit = true;
    EXPECT_EQ(kind(commands.event(served, SourcePhase::Live)), static_cast<int>(SourceEventKind::Close));
}

TEST(Letterbox, PicturesFillTheFrameWithTheirDisplayAspect) {
    EXPECT_EQ(FitInFrame(640, 480), (FrameRect{0, 0, 640, 480}));
    EXPECT_EQ(FitInFrame(1920, 1080), (FrameRect{0, 60, 640, 360}));
    EXPECT_EQ(FitInFrame(320, 240), (FrameRect{0, 0, 640, 480})) << "small pictures grow";
    EXPECT_EQ(FitInFrame(480, 640), (FrameRect{140, 0, 360, 480})) << "a portrait phone";
    EXPECT_EQ(FitInFrame(720, 576, 16, 15), (FrameRect{0, 0, 640, 480})) << "PAL is 4:3";
    EXPECT_EQ(FitInFrame(720, 480, 8, 9), (FrameRect{0, 0, 640, 480})) << "NTSC is 4:3";
    EXPECT_EQ(FitInFrame(1366, 768), (FrameRect{0, 60, 640, 358})) << "even sizes for 4:2:0";
    EXPECT_EQ(FitInFrame(100000, 1), (FrameRect{0, 238, 640, 2})) << "never empty";
    EXPECT_EQ(FitInFrame(0, 480), FrameRect{});
    EXPECT_EQ(FitInFrame(640, 480, 0, 1), FrameRect{});
}

}  // namespace
}  // namespace kesmacap
