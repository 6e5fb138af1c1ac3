#include "kesmacap/card/SourceLife.h"

#include <algorithm>
#include <ctime>

namespace kesmacap {

namespace {

SourceStep built(SourceStep step, SourceClock::time_point now) {
    step.build = true;
    step.state.phase = SourcePhase::Connecting;
    step.state.deadline = now + SourceLife::ConnectGrace;
    step.state.playedFrom = now;
    step.state.rewindDue = false;
    return step;
}

// Nothing built until the next start; the reason stays in the picture.
SourceStep refused(SourceStep step, std::string reason) {
    const SourcePhase was = step.state.phase;
    step.tearDown = was != SourcePhase::Stopped && was != SourcePhase::Refused;
    step.show = true;
    step.status = SourceStatus::Refused;
    step.reason = std::move(reason);
    step.news = was != SourcePhase::Refused;  // a lasting reason is worth a line, even after losses
    step.state.lossReported = true;
    step.state.phase = SourcePhase::Refused;
    step.state.deadline = SourceClock::time_point::max();
    return step;
}

// A recording at its end: from its start again, at most once per ReplayInterval,
// its last picture kept meanwhile. One that can be sought back stays built
// and is sought when its time comes; one that cannot is built anew then.
SourceStep ended(SourceStep step, bool rewindable, SourceClock::time_point now) {
    const SourceClock::time_point due = step.state.playedFrom + SourceLife::ReplayInterval;
    if (rewindable && now >= due) {
        step.rewind = true;
        step.state.rewindDue = false;
        step.state.playedFrom = now;
        step.state.deadline = std::max(step.state.deadline, now + SourceLife::Silence);
    } else if (rewindable) {
        step.state.rewindDue = true;
        step.state.deadline = due;
    } else {
        step.tearDown = true;
        step.state.phase = SourcePhase::Retrying;
        step.state.deadline = std::max(now, due);
    }
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

std::string clockTime(std::chrono::system_clock::time_point when) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &seconds);
#else
    localtime_r(&seconds, &local);
#endif
    char text[16];
    std::strftime(text, sizeof text, "%H:%M:%S", &local);
    return text;
}

}  // namespace

std::string SourceLife::describe(const SourceStep& step, SourceClock::time_point now,
                                 std::string_view failing) {
    // Most systems' messages end with a full stop; the picture adds its own.
    const std::string_view why(
        step.reason.data(), step.reason.size() - (!step.reason.empty() && step.reason.back() == '.' ? 1 : 0));
    switch (step.status) {
        case SourceStatus::Connecting:
            return "Connecting...";
        case SourceStatus::Connected:
            return "Connected (" + std::string(why) + "), waiting for the first picture";
        case SourceStatus::Failed:
            return std::string(failing) + " at " + clockTime(std::chrono::system_clock::now()) + ": " +
                   std::string(why) + ". Trying again.";
        case SourceStatus::Refused:
            return step.reason;
        case SourceStatus::NoSignal: {
            const auto since =
                std::chrono::system_clock::now() -
                std::chrono::duration_cast<std::chrono::system_clock::duration>(now - step.state.lastFrame);
            return "No signal since " + clockTime(since) + ": " + std::string(why) + ". Trying again.";
        }
    }
    return step.reason;
}

SourceStep SourceLife::advance(const SourceState& state, const SourceEvent& event,
                               SourceClock::time_point now) {
    SourceStep step;
    step.state = state;
    const bool running = state.phase == SourcePhase::Connecting || state.phase == SourcePhase::Live;
    switch (event.kind) {
        case SourceEventKind::Start:
            step.tearDown = state.phase != SourcePhase::Stopped && state.phase != SourcePhase::Refused;
            step.state = SourceState{};
            step.state.backoff = FirstRetry;
            step.show = true;
            step.status = SourceStatus::Connecting;
            return built(step, now);
        case SourceEventKind::Stop:
        case SourceEventKind::Close:
            step.tearDown = state.phase != SourcePhase::Stopped && state.phase != SourcePhase::Refused;
            step.state = SourceState{};
            return step;
        case SourceEventKind::Frame:
            if (!running) {
                return step;  // from a source already torn down
            }
            // The first picture since the start or a loss; not that of a recording played again.
            step.news = state.phase == SourcePhase::Connecting && (!state.everLive || state.lossReported);
            step.state.phase = SourcePhase::Live;
            step.state.lastFrame = std::max(state.lastFrame, now);
            step.state.deadline = step.state.lastFrame + Silence;
            step.state.everLive = true;
            step.state.rewindDue = false;
            step.state.lossReported = false;
            step.state.backoff = FirstRetry;
            return step;
        case SourceEventKind::Connected:
            if (state.phase == SourcePhase::Connecting) {
                step.show = true;
                step.status = SourceStatus::Connected;
                step.reason = event.reason;
            } else if (state.phase == SourcePhase::Live) {
                step.state.deadline = std::max(state.deadline, now + Silence);  // heard from: not silent
            } else if (state.phase == SourcePhase::Retrying) {
                // Back of its own accord (a signal, a device plugged in again): no need to wait.
                return built(step, now);
            }
            return step;
        case SourceEventKind::Progress:
            // Heard from (a stream filling its buffer): neither silent nor stuck connecting.
            if (state.phase == SourcePhase::Connecting) {
                step.state.deadline = std::max(state.deadline, now + ConnectGrace);
            } else if (state.phase == SourcePhase::Live) {
                step.state.deadline = std::max(state.deadline, now + Silence);
            }
            return step;
        case SourceEventKind::Error:
            return running ? lost(step, event.reason, now) : step;
        case SourceEventKind::LoginRefused:
            if (!running) {
                return step;
            }
            // Each attempt counts against the camera's lock-out, whatever came between.
            if (++step.state.loginsRefused < MostLogins) {
                return lost(step, event.reason, now);
            }
            return refused(step, event.reason + "; refused " + std::to_string(MostLogins) +
                                     " times, so not tried again until F1");
        case SourceEventKind::Refused:
            return state.phase != SourcePhase::Stopped ? refused(step, event.reason) : step;
        case SourceEventKind::EndOfStream:
            return running ? lost(step, "the stream ended", now) : step;
        case SourceEventKind::Ended:
            if (state.phase == SourcePhase::Connecting) {
                return lost(step, "it ended before its first picture", now);
            }
            return state.phase == SourcePhase::Live ? ended(step, event.rewindable, now) : step;
        case SourceEventKind::Timer:
            if (now < state.deadline) {
                return step;
            }
            switch (state.phase) {
                case SourcePhase::Connecting:
                    return lost(
                        step, "no picture within " + std::to_string(ConnectGrace.count() / 1000) + " s", now);
                case SourcePhase::Live:
                    if (state.rewindDue) {
                        return ended(step, true, now);
                    }
                    return lost(step, "no picture for " + std::to_string(Silence.count() / 1000) + " s", now);
                case SourcePhase::Retrying:
                    return built(step, now);
                case SourcePhase::Stopped:
                case SourcePhase::Refused:
                    return step;
            }
    }
    return step;
}

std::optional<SourceEventKind> SourceCommands::event(unsigned& served, SourcePhase phase) const {
    if (quit) {
        return SourceEventKind::Close;
    }
    if (wanted && generation != served) {
        served = generation;
        return SourceEventKind::Start;
    }
    if (!wanted && phase != SourcePhase::Stopped) {
        return SourceEventKind::Stop;
    }
    return std::nullopt;
}

}  // namespace kesmacap
