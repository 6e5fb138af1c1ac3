// When a recording's pictures are due: each at its timestamp's distance from
// the first one's, counted from when that one was shown. A recording read
// from a file comes as fast as it is decoded; a camera needs none of this.
#pragma once

#include <chrono>
#include <optional>

namespace kesmacap {

class FramePacer {
  public:
    using Clock = std::chrono::steady_clock;
    // Further behind than this (a stall) or ahead (a jump in the timestamps):
    // the pictures are timed afresh from the one at hand.
    static constexpr std::chrono::milliseconds MostBehind{500};
    static constexpr std::chrono::seconds MostAhead{2};

    // seconds: the picture's timestamp, or none (shown at once).
    Clock::time_point due(std::optional<double> seconds, Clock::time_point now) {
        if (!seconds) {
            return now;
        }
        if (origin_) {
            const Clock::time_point when =
                origin_->shown + std::chrono::duration_cast<Clock::duration>(
                                     std::chrono::duration<double>(*seconds - origin_->seconds));
            if (when >= now - MostBehind && when <= now + MostAhead) {
                return when;
            }
        }
        origin_ = Origin{*seconds, now};
        return now;
    }
    // The recording starts again (built anew, sought back).
    void restart() { origin_.reset(); }

  private:
    struct Origin {
        double seconds;
        Clock::time_point shown;
    };
    std::optional<Origin> origin_;
};

}  // namespace kesmacap
