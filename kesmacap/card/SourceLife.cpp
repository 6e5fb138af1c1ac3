#include "kesmacap/card/SourceLife.h"

#include <algorithm>

namespace kesmacap {

namespace {

SourceStep built(SourceStep step, SourceClock::time_point now) {
    step.build = true;
    step.state.phase = SourcePhase::Connecting;
    step.state.deadline = now + SourceLife::ConnectGrace;
    return step;
}

SourceStep lost(SourceStep step, std::string reason, SourceClock::time_point now) {
    step.tearDown = true;
    step.show = true;
    step.status = step.state.everLive ? SourceStatus::NoSignal : SourceStatus::Failed;
    step.reason = std::move(reason);
    step.news = !step.state.lossReported;
    step.state.lossReported = true;
    step.state.phase = SourcePhase::Retrying;
    step.state.deadline = now + step.state.backoff;
    step.state.backoff = std::min(step.state.backoff * 2, SourceLife::LongestRetry);
    return step;
}

}  // namespace

SourceStep SourceLife::advance(const SourceState& state, const SourceEvent& event,
                               SourceClock::time_point now) {
    SourceStep step;
    step.state = state;
    const bool running = state.phase == SourcePhase::Connecting || state.phase == SourcePhase::Live;
    switch (event.kind) {
        case SourceEventKind::Start:
            step.tearDown = state.phase != SourcePhase::Stopped;
            step.state = SourceState{};
            step.state.backoff = FirstRetry;
            step.show = true;
            step.status = SourceStatus::Connecting;
            return built(step, now);
        case SourceEventKind::Stop:
        case SourceEventKind::Close:
            step.tearDown = state.phase != SourcePhase::Stopped;
            step.state = SourceState{};
            return step;
        case SourceEventKind::Frame:
            if (!running) {
                return step;  // from a source already torn down
            }
            step.news = state.phase == SourcePhase::Connecting;
            step.state.phase = SourcePhase::Live;
            step.state.lastFrame = std::max(state.lastFrame, now);
            step.state.deadline = step.state.lastFrame + Silence;
            step.state.everLive = true;
            step.state.lossReported = false;
            step.state.backoff = FirstRetry;
            return step;
        case SourceEventKind::Connected:
            if (state.phase == SourcePhase::Connecting) {
                step.show = true;
                step.status = SourceStatus::Connected;
                step.reason = event.reason;
            } else if (state.phase == SourcePhase::Live) {
                // Heard from (a stream filling its buffer): not silent.
                step.state.deadline = std::max(state.deadline, now + Silence);
            }
            return step;
        case SourceEventKind::Error:
            return running ? lost(step, event.reason, now) : step;
        case SourceEventKind::EndOfStream:
            return running ? lost(step, "the stream ended", now) : step;
        case SourceEventKind::Timer:
            if (now < state.deadline) {
                return step;
            }
            switch (state.phase) {
                case SourcePhase::Connecting:
                    return lost(
                        step, "no picture within " + std::to_string(ConnectGrace.count() / 1000) + " s", now);
                case SourcePhase::Live:
                    return lost(step, "no picture for " + std::to_string(Silence.count() / 1000) + " s", now);
                case SourcePhase::Retrying:
                    return built(step, now);
                case SourcePhase::Stopped:
                    return step;
            }
    }
    return step;
}

}  // namespace kesmacap
