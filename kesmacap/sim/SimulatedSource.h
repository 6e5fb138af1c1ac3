#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

#include "kesmacap/card/Card.h"
#include "kesmacap/sim/TestPattern.h"

namespace kesmacap {

// A simulated four-channel card: one producer thread renders every started
// channel's test picture on absolute deadlines, so the rate does not drift.
class SimulatedSource final : public FrameSource {
  public:
    // framesPerSecond per channel; 0 renders as fast as it can.
    SimulatedSource(Channels& channels, double framesPerSecond);
    ~SimulatedSource() override;

    std::int32_t open(int channel) override;
    void close(int channel) override;
    std::int32_t start(int channel) override;
    void stop(int channel) override;
    const Picture* still(int channel) const override { return &patterns_[channel].still(); }

    // The rate from KESMACAP_SIM_FPS, else 30; a value that is not a number >= 0 is ignored.
    static double rateFromEnvironment();

  private:
    using Clock = std::chrono::steady_clock;
    struct Schedule {
        bool running = false;
        Clock::time_point next;
        std::uint64_t frame = 0;
    };

    void run();
    std::optional<int> nextDueLocked(Clock::time_point now, Clock::time_point& wakeAt) const;

    Channels& channels_;
    const std::array<TestPattern, ChannelCount> patterns_;
    const Clock::duration period_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::array<Schedule, ChannelCount> schedules_{};
    bool quit_ = false;
    // Which live frame each channel's buffers hold, so the next frame drawn
    // into one redraws only what moved. The producer's own.
    struct Rendered {
        const std::uint8_t* buffer = nullptr;
        std::uint64_t frame = 0;
    };
    std::array<std::array<Rendered, 4>, ChannelCount> rendered_{};
    std::thread producer_;
};

}  // namespace kesmacap
