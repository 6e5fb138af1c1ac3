// FFmpeg's own messages, which go to one place for the whole process: its
// warnings and errors on standard error as the library's, every secret
// masked (FFmpeg names URLs with their passwords); the rest dropped (its
// debug messages hold Authorization headers).
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace kesmacap {

class LogFilter {
  public:
    using Clock = std::chrono::steady_clock;
    // Lines written per minute, at most: a camera losing packets warns of each.
    static constexpr int MostLinesPerMinute = 20;

    // The line to write for a message of FFmpeg's at `level` (an AV_LOG_
    // level) from `component` (its class's name), or none: one below a
    // warning, the line written last, or one over the minute's share.
    std::optional<std::string> lineFor(int level, std::string_view component, std::string_view message,
                                       Clock::time_point now);

  private:
    std::string last_;
    Clock::time_point minuteFrom_{};
    int linesThisMinute_ = 0;
};

// Sends FFmpeg's messages through a LogFilter to standard error, from the
// first call on; FFmpeg's own way again when the library is unloaded.
void RouteFfmpegLog();

}  // namespace kesmacap
