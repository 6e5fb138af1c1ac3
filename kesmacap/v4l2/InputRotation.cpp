#include "kesmacap/v4l2/InputRotation.h"

#include <algorithm>

namespace kesmacap {

namespace {

using Windows = std::span<const RotationWindow>;
using TimePoint = SourceClock::time_point;
constexpr TimePoint Never = TimePoint::max();

bool wants(Windows windows, int input) {
    return std::any_of(windows.begin(), windows.end(),
                       [&](const RotationWindow& window) { return window.wanted && window.input == input; });
}

bool awaitsSignal(Windows windows, int input) {
    return std::any_of(windows.begin(), windows.end(), [&](const RotationWindow& window) {
        return window.awaitingSignal && window.input == input;
    });
}

// The next input, in the windows' order after the current one's first window,
// that wants a turn; never the current one.
std::optional<int> nextInput(Windows windows, int current) {
    const auto first = std::find_if(windows.begin(), windows.end(),
                                    [&](const RotationWindow& window) { return window.input == current; });
    const std::size_t count = windows.size();
    const std::size_t from =
        first == windows.end() ? count - 1 : static_cast<std::size_t>(first - windows.begin());
    for (std::size_t step = 1; step <= count; ++step) {
        const RotationWindow& window = windows[(from + step) % count];
        if (window.wanted && window.input != current) {
            return window.input;
        }
    }
    return std::nullopt;
}

RotationState startTurn(RotationState state, int input, bool settle, TimePoint now) {
    state.input = input;
    state.streaming = true;
    state.turnOver = false;
    state.settle = settle ? InputRotation::SettlingFrames : 0;
    state.standardDue = true;
    state.statusDue = true;
    state.turnEnds = now + InputRotation::TurnLimit;
    state.statusAt = now + InputRotation::SignalCheck;
    return state;
}

RotationStep changed(RotationStep step, Windows windows, TimePoint now) {
    RotationState& state = step.state;
    if (std::none_of(windows.begin(), windows.end(),
                     [](const RotationWindow& window) { return window.wanted; })) {
        // Idle: the device stays on its input, whose status alone can be read.
        const RotationState was = state;
        step.stop = was.streaming;
        state = RotationState{was.input};
        if (awaitsSignal(windows, was.input)) {
            // Looked at a second after it went idle, then every second.
            state.statusAt =
                was.streaming || was.statusAt == Never ? now + InputRotation::SignalCheck : was.statusAt;
        }
        return step;
    }
    const bool current = state.input >= 0 && wants(windows, state.input);
    if (state.streaming && current && !state.turnOver) {
        return step;  // its turn goes on
    }
    const std::optional<int> next = nextInput(windows, state.input);
    if (!next && state.streaming) {
        // Alone: a new turn of the same input, without a switch.
        state.turnOver = false;
        state.turnEnds = now + InputRotation::TurnLimit;
        return step;
    }
    const int input = next.value_or(state.input);
    step.select = input;
    state = startTurn(state, input, state.input >= 0 && input != state.input, now);
    return step;
}

RotationStep timer(RotationStep step, Windows windows, TimePoint now) {
    RotationState& state = step.state;
    if (state.streaming) {
        if (!state.turnOver && now >= state.turnEnds && nextInput(windows, state.input)) {
            // Others wait: the input had its chance.
            step.readStatus = true;
            step.lose = true;
            state.turnOver = true;
            state.statusDue = false;
        } else if (now >= state.statusAt) {
            step.readStatus = true;
            state.statusAt = now + InputRotation::SignalCheck;
        }
    } else if (now >= state.statusAt) {
        step.watch = awaitsSignal(windows, state.input);
        state.statusAt = step.watch ? now + InputRotation::SignalCheck : Never;
    }
    return step;
}

TimePoint deadlineOf(const RotationState& state, Windows windows) {
    if (!state.streaming) {
        return state.statusAt;
    }
    const bool waiting = !state.turnOver && nextInput(windows, state.input);
    return waiting ? std::min(state.turnEnds, state.statusAt) : state.statusAt;
}

}  // namespace

RotationStep InputRotation::advance(const RotationState& state, RotationEventKind event, Windows windows,
                                    TimePoint now) {
    RotationStep step;
    step.state = state;
    RotationState& next = step.state;
    switch (event) {
        case RotationEventKind::Changed:
            step = changed(step, windows, now);
            break;
        case RotationEventKind::Frame:
        case RotationEventKind::BrokenFrame:
            if (!state.streaming) {
                break;  // taken before a stop
            }
            if (state.settle > 0) {
                --next.settle;  // the decoder locking on: dropped, broken or not
                break;
            }
            // A field of the input has been measured: its standard and status now mean it.
            if (event == RotationEventKind::Frame) {
                step.detectStandard = state.standardDue;
                step.readStatus = state.statusDue;
                step.show = true;
            } else {
                step.readStatus = true;  // "no signal" said by the status, or a glitch
            }
            next.standardDue = false;
            next.statusDue = false;
            next.turnOver = true;
            break;
        case RotationEventKind::SourceChange:
            if (state.streaming) {
                step.select = state.input;
                next = startTurn(state, state.input, true, now);
            }
            break;
        case RotationEventKind::StandardChanged:
            if (state.streaming) {
                step.select = state.input;
                next = startTurn(state, state.input, true, now);
                next.standardDue =
                    false;  // once a turn: a decoder that keeps changing its mind is not followed
            }
            break;
        case RotationEventKind::Failed:
            next.streaming = false;
            next.turnOver = false;
            next.turnEnds = Never;
            next.statusAt = Never;
            break;
        case RotationEventKind::Closed:
            next = RotationState{};
            break;
        case RotationEventKind::Timer:
            if (now >= state.deadline) {
                step = timer(step, windows, now);
            }
            break;
    }
    step.state.deadline = deadlineOf(step.state, windows);
    return step;
}

}  // namespace kesmacap
