#include "kesmacap/sim/SimulatedSource.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>

namespace kesmacap {

SimulatedSource::SimulatedSource(Channels& channels, double framesPerSecond)
    : channels_(channels),
      patterns_{TestPattern(0), TestPattern(1), TestPattern(2), TestPattern(3)},
      period_(framesPerSecond > 0 ? std::chrono::duration_cast<Clock::duration>(
                                        std::chrono::duration<double>(1.0 / framesPerSecond))
                                  : Clock::duration::zero()),
      producer_([this] { run(); }) {}

SimulatedSource::~SimulatedSource() {
    {
        const std::lock_guard lock(mutex_);
        quit_ = true;
    }
    changed_.notify_all();
    producer_.join();
}

double SimulatedSource::rateFromEnvironment() {
    constexpr double defaultRate = 30.0;
    const char* const text = std::getenv("KESMACAP_SIM_FPS");
    if (text == nullptr || *text == '\0') {
        return defaultRate;
    }
    char* end = nullptr;
    const double rate = std::strtod(text, &end);
    return *end == '\0' && std::isfinite(rate) && rate >= 0 ? rate : defaultRate;
}

std::int32_t SimulatedSource::open(int /*channel*/) {
    return 0;
}

void SimulatedSource::close(int /*channel*/) {}

std::int32_t SimulatedSource::start(int channel) {
    {
        const std::lock_guard lock(mutex_);
        Schedule& schedule = schedules_[channel];
        schedule.running = true;
        schedule.next = Clock::now();
    }
    changed_.notify_all();
    return 0;
}

void SimulatedSource::stop(int channel) {
    const std::lock_guard lock(mutex_);
    schedules_[channel].running = false;
}

std::optional<int> SimulatedSource::nextDueLocked(Clock::time_point now, Clock::time_point& wakeAt) const {
    std::optional<int> earliest;
    for (int channel = 0; channel < ChannelCount; ++channel) {
        const Schedule& schedule = schedules_[channel];
        if (schedule.running && (!earliest || schedule.next < schedules_[*earliest].next)) {
            earliest = channel;
        }
    }
    if (!earliest) {
        wakeAt = Clock::time_point::max();
        return std::nullopt;
    }
    wakeAt = schedules_[*earliest].next;
    return wakeAt <= now ? earliest : std::nullopt;
}

void SimulatedSource::run() {
    std::unique_lock lock(mutex_);
    while (!quit_) {
        Clock::time_point wakeAt;
        const std::optional<int> due = nextDueLocked(Clock::now(), wakeAt);
        if (!due) {
            if (wakeAt == Clock::time_point::max()) {
                changed_.wait(lock);
            } else {
                changed_.wait_until(lock, wakeAt);
            }
            continue;
        }
        Schedule& schedule = schedules_[*due];
        const std::uint64_t frame = schedule.frame++;
        // Absolute deadlines: the next frame is due one period after this one was
        // due, not after it was drawn. A producer that fell behind skips the
        // frames it missed instead of delivering them in a burst.
        schedule.next += period_;
        const Clock::time_point now = Clock::now();
        if (period_ > Clock::duration::zero() && schedule.next + period_ < now) {
            schedule.next += (now - schedule.next) / period_ * period_;
        } else if (period_ == Clock::duration::zero()) {
            schedule.next = now;
        }
        lock.unlock();
        // The back buffer is this thread's alone; publishing hands it over.
        Channel& channel = channels_[*due];
        std::uint8_t* const buffer = channel.backBuffer();
        auto& rendered = rendered_[*due];
        auto slot = std::find_if(rendered.begin(), rendered.end(),
                                 [buffer](const Rendered& entry) { return entry.buffer == buffer; });
        const std::optional<std::uint64_t> previous =
            slot != rendered.end() ? std::optional<std::uint64_t>(slot->frame) : std::nullopt;
        if (slot == rendered.end()) {
            slot = std::find_if(rendered.begin(), rendered.end(),
                                [](const Rendered& entry) { return entry.buffer == nullptr; });
        }
        patterns_[*due].renderLive(buffer, frame, std::chrono::system_clock::now(), previous);
        if (slot != rendered.end()) {
            *slot = Rendered{buffer, frame};
        }
        channel.publish(MaxWidth, MaxHeight);
        lock.lock();
    }
}

}  // namespace kesmacap
