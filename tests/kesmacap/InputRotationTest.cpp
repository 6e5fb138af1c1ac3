// The turns of a node's inputs as tables: each row an event at a time, the
// windows' states then, and what the node is to do.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kesmacap/v4l2/InputRotation.h"

namespace kesmacap {
namespace {

using Kind = RotationEventKind;

struct Row {
    int at;  // ms since the first row
    Kind event;
    const char* windows;  // window n on input n: w wants turns, a awaits its signal, - neither
    int select;           // the input selected; -1: none
    const char* does;     // S stop, D detect the standard, R read the status, V show, L lose, W watch
    int settle;           // frames still to drop
    int deadline;         // ms; -1: none
};

void play(const std::vector<Row>& rows) {
    const SourceClock::time_point origin{};
    RotationState state;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const Row& row = rows[i];
        std::vector<RotationWindow> windows;
        for (int n = 0; row.windows[n] != '\0'; ++n) {
            windows.push_back({n, row.windows[n] == 'w', row.windows[n] == 'a'});
        }
        const RotationStep step =
            InputRotation::advance(state, row.event, windows, origin + std::chrono::milliseconds(row.at));
        SCOPED_TRACE("row " + std::to_string(i + 1));
        EXPECT_EQ(step.select.value_or(-1), row.select);
        const std::string does = std::string(step.stop ? "S" : "") + (step.detectStandard ? "D" : "") +
                                 (step.readStatus ? "R" : "") + (step.show ? "V" : "") +
                                 (step.lose ? "L" : "") + (step.watch ? "W" : "");
        EXPECT_EQ(does, row.does);
        EXPECT_EQ(step.state.settle, row.settle);
        EXPECT_EQ(step.state.deadline, row.deadline < 0 ? SourceClock::time_point::max()
                                                        : origin + std::chrono::milliseconds(row.deadline));
        state = step.state;
    }
}

// clang-format off
TEST(InputRotation, TurnsGoRoundTheInputsThatWantThemAndEndWithoutAFrame) {
    play({
        //  at  event              windows select does   settle deadline
        {    0, Kind::Changed,     "www",  0,    "",     0,    500},  // the device's input unknown: nothing to settle
        {   40, Kind::Frame,       "www", -1,    "DRV",  0,   1000},  // a field measured: standard, status, shown
        {   40, Kind::Changed,     "www",  1,    "",     1,    540},
        {   80, Kind::Frame,       "www", -1,    "",     0,    540},  // the decoder locking on: dropped
        {  120, Kind::Frame,       "www", -1,    "DRV",  0,   1040},
        {  120, Kind::Changed,     "w-w",  2,    "",     1,    620},  // window 1 stopped meanwhile: skipped
        {  160, Kind::BrokenFrame, "w-w", -1,    "",     0,    620},  // broken while settling: dropped all the same
        {  200, Kind::BrokenFrame, "w-w", -1,    "R",    0,   1120},  // then its status says why; the turn is over
        {  200, Kind::Changed,     "wwa",  0,    "",     1,    700},  // no signal: lost until its retry
        {  700, Kind::Timer,       "wwa", -1,    "RL",   1,   1200},  // nothing in its turn while input 1 waits
        {  700, Kind::Changed,     "-wa",  1,    "",     1,   1700},  // alone now: its turn has no limit
        {  740, Kind::Frame,       "-wa", -1,    "",     0,   1700},
        {  780, Kind::Frame,       "-wa", -1,    "DRV",  0,   1700},
        {  780, Kind::Changed,     "-wa", -1,    "",     0,   1700},  // its next turn, without a switch
        { 1700, Kind::Timer,       "-wa", -1,    "R",    0,   2700},  // and its status read each second
        { 1780, Kind::Frame,       "-wa", -1,    "V",    0,   2700},  // frames shown as they come
        { 1780, Kind::Changed,     "-wa", -1,    "",     0,   2700},
        { 1800, Kind::Changed,     "-ww", -1,    "",     0,   2280},  // input 2 retried: after input 1's frame
        { 1840, Kind::Frame,       "-ww", -1,    "V",    0,   2700},
        { 1840, Kind::Changed,     "-ww",  2,    "",     1,   2340},
    });
}

TEST(InputRotation, AnInputWithoutSignalIsWatchedOnlyWhileTheDeviceIdlesOnIt) {
    play({
        {    0, Kind::Changed,     "wa",   0,    "",     0,   1000},  // input 1 waits for its retry: no turn
        {   40, Kind::Frame,       "wa",  -1,    "DRV",  0,   1000},
        {   40, Kind::Changed,     "wa",  -1,    "",     0,   1000},
        {   80, Kind::BrokenFrame, "wa",  -1,    "R",    0,   1000},  // no signal, says the status
        {   80, Kind::Changed,     "aa",  -1,    "S",    0,   1080},  // nothing streams: the device's input watched
        {  500, Kind::Changed,     "aa",  -1,    "",     0,   1080},  // nothing new: the watch keeps its time
        {  510, Kind::Frame,       "aa",  -1,    "",     0,   1080},  // taken before the stop
        { 1080, Kind::Timer,       "aa",  -1,    "W",    0,   2080},
        { 2080, Kind::Timer,       "aa",  -1,    "W",    0,   3080},
        { 2500, Kind::Changed,     "w-",   0,    "",     0,   3500},  // its signal back: the same input, no settling
        { 2600, Kind::Changed,     "--",  -1,    "S",    0,     -1},  // stopped: nobody is watched
    });
}

TEST(InputRotation, StandardDetectedOnceSettledAndInputsSelectedAgainWhenTheyChange) {
    play({
        {    0, Kind::Changed,         "ww",  0, "",     0,    500},
        {   40, Kind::Frame,           "ww", -1, "DRV",  0,   1000},
        {   40, Kind::Changed,         "ww",  1, "",     1,    540},
        {   80, Kind::Frame,           "ww", -1, "",     0,    540},  // the decoder still answers from input 0
        {  120, Kind::Frame,           "ww", -1, "DRV",  0,   1040},  // now from input 1: another standard
        {  120, Kind::StandardChanged, "ww",  1, "",     1,    620},  // selected again with it, and settled
        {  160, Kind::Frame,           "ww", -1, "",     0,    620},
        {  200, Kind::Frame,           "ww", -1, "RV",   0,   1120},  // detected once a turn
        {  200, Kind::Changed,         "ww",  0, "",     1,    700},
        {  240, Kind::SourceChange,    "ww",  0, "",     1,    740},  // new timings, a signal back: from the start
        {  280, Kind::Frame,           "ww", -1, "",     0,    740},
        {  320, Kind::Frame,           "ww", -1, "DRV",  0,   1240},
        {  320, Kind::Changed,         "ww",  1, "",     1,    820},
        {  330, Kind::Failed,          "ww", -1, "",     1,     -1},  // the device refused input 1
        {  330, Kind::Changed,         "w-",  0, "",     1,   1330},  // its windows lost
        {  400, Kind::Closed,          "w-", -1, "",     0,     -1},  // unplugged: its input not known
        {  400, Kind::Changed,         "w-",  0, "",     0,   1400},  // reopened: nothing to settle
    });
}
// clang-format on

}  // namespace
}  // namespace kesmacap
