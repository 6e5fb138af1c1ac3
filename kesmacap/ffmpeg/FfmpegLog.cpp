#include "kesmacap/ffmpeg/FfmpegLog.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/log.h>
}

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "kesmacap/ffmpeg/FfmpegCamera.h"
#include "kesmacap/sources/SourcesFile.h"

namespace kesmacap {

namespace {

void writeLine(void* context, int level, const char* format, va_list arguments);

// Installed for as long as the library is loaded: FFmpeg may outlive it in
// the process, and must not call into it once it is gone.
class LogRoute {
  public:
    LogRoute() {
        current_.store(this);
        av_log_set_callback(writeLine);
    }
    ~LogRoute() {
        av_log_set_callback(av_log_default_callback);
        current_.store(nullptr);
    }
    LogRoute(const LogRoute&) = delete;
    LogRoute& operator=(const LogRoute&) = delete;

    static LogRoute* current() { return current_.load(); }

    void write(int level, std::string_view component, std::string_view message) {
        std::optional<std::string> line;
        {
            const std::lock_guard lock(mutex_);
            line = filter_.lineFor(level, component, message, LogFilter::Clock::now());
        }
        if (line) {
            std::fprintf(stderr, "%s\n", line->c_str());
        }
    }

  private:
    static std::atomic<LogRoute*> current_;
    std::mutex mutex_;  // FFmpeg logs from every camera's thread
    LogFilter filter_;
};

std::atomic<LogRoute*> LogRoute::current_{nullptr};

void writeLine(void* context, int level, const char* format, va_list arguments) {
    LogRoute* const route = LogRoute::current();
    // Heard at any level: FFmpeg's RTSP client follows a camera's 3xx with the
    // same password, wherever it leads, and says so only here.
    static constexpr char Redirecting[] = "Status %d: Redirecting to %s";
    if (context != nullptr && std::strncmp(format, Redirecting, sizeof Redirecting - 1) == 0 &&
        *static_cast<const AVClass* const*>(context) == avformat_get_class()) {
        va_list copy;
        va_copy(copy, arguments);
        char text[1024];
        std::vsnprintf(text, sizeof text, format, copy);
        va_end(copy);
        std::string url(std::strstr(text, "Redirecting to ") + std::strlen("Redirecting to "));
        url.erase(url.find_last_not_of("\r\n") + 1);
        FfmpegCamera::redirected(static_cast<const AVFormatContext*>(context)->interrupt_callback, url);
    }
    // AV_LOG_C adds a colour above the low byte.
    if ((level & 0xff) > AV_LOG_WARNING || route == nullptr) {
        return;
    }
    if (context != nullptr && *static_cast<const AVClass* const*>(context) == avformat_get_class()) {
        // A demuxer the library cut short says what it did not get to read:
        // the echo of a stop or a deadline, not news.
        const AVIOInterruptCB& interrupt = static_cast<const AVFormatContext*>(context)->interrupt_callback;
        if (interrupt.callback != nullptr && interrupt.callback(interrupt.opaque) != 0) {
            return;
        }
    }
    char message[1024];
    std::vsnprintf(message, sizeof message, format, arguments);
    const char* component = "";
    // Every context FFmpeg logs for starts with a pointer to its class.
    if (const AVClass* const type =
            context != nullptr ? *static_cast<const AVClass* const*>(context) : nullptr;
        type != nullptr && type->item_name != nullptr) {
        component = type->item_name(context);
    }
    route->write(level & 0xff, component != nullptr ? component : "", message);
}

}  // namespace

std::optional<std::string> LogFilter::lineFor(int level, std::string_view component, std::string_view message,
                                              Clock::time_point now) {
    if (level > AV_LOG_WARNING) {
        return std::nullopt;
    }
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' ')) {
        message.remove_suffix(1);
    }
    if (message.empty()) {
        return std::nullopt;
    }
    std::string line =
        "quadview ffmpeg: " + (component.empty() ? std::string() : std::string(component) + ": ") +
        MaskSecrets(message);
    // One line, though FFmpeg's advice comes on a line of its own.
    std::replace(line.begin(), line.end(), '\n', ' ');
    if (line == last_) {
        return std::nullopt;
    }
    if (now - minuteFrom_ >= std::chrono::minutes(1)) {
        minuteFrom_ = now;
        linesThisMinute_ = 0;
    }
    if (linesThisMinute_ >= MostLinesPerMinute) {
        return std::nullopt;
    }
    ++linesThisMinute_;
    last_ = line;
    return line;
}

void RouteFfmpegLog() {
    static LogRoute route;
}

}  // namespace kesmacap
