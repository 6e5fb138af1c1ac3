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

struct Row {
    std::chrono::milliseconds at;  // since the first row
    Kind event;
    Phase phase;
    bool tearDown, build, show;
    Status status;                       // when shown
    std::chrono::milliseconds deadline;  // since the first row; -1: none
    bool news;
};

constexpr auto None = std::chrono::milliseconds(-1);

void play(const std::vector<Row>& rows) {
    const SourceClock::time_point origin{};
    SourceState state;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const Row& row = rows[i];
        const SourceStep step = SourceLife::advance(state, {row.event, "why"}, origin + row.at);
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
// clang-format on

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
