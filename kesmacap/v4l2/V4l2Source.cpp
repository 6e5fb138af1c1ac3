#include "kesmacap/v4l2/V4l2Source.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

namespace kesmacap {

V4l2Source::V4l2Source(Channels& channels, std::unique_ptr<V4l2System> system,
                       std::vector<std::string> devices)
    : channels_(channels),
      system_(std::move(system)),
      paths_(std::move(devices)),
      wake_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
    for (auto& device : devices_) {
        device = std::make_unique<V4l2Device>(*system_);
    }
    thread_ = std::thread([this] { run(); });
}

V4l2Source::~V4l2Source() {
    {
        const std::lock_guard lock(mutex_);
        quit_ = true;
    }
    wake();
    thread_.join();
    for (auto& device : devices_) {
        device->close();
    }
    if (wake_ >= 0) {
        ::close(wake_);
    }
}

void V4l2Source::wake() const {
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto written = write(wake_, &one, sizeof one);
}

std::int32_t V4l2Source::open(int channel) {
    if (static_cast<std::size_t>(channel) >= paths_.size() || paths_[channel].empty()) {
        return ENODEV;
    }
    // Not streaming, so not in the capture thread's wait: negotiation may take its time.
    const std::lock_guard lock(mutex_);
    return devices_[channel]->open(paths_[channel]);
}

void V4l2Source::close(int channel) {
    std::unique_lock lock(mutex_);
    V4l2Device& device = *devices_[channel];
    device.stopStreaming();
    if (!device.isOpen()) {
        return;
    }
    waitUntilUnwatchedLocked(lock, device.descriptor());
    device.close();
}

void V4l2Source::waitUntilUnwatchedLocked(std::unique_lock<std::mutex>& lock, int fd) {
    wake();  // the capture thread goes round and leaves a stopped descriptor out of its wait
    watchChanged_.wait(lock,
                       [&] { return std::find(watched_.begin(), watched_.end(), fd) == watched_.end(); });
}

std::int32_t V4l2Source::start(int channel) {
    std::int32_t result = 0;
    {
        const std::lock_guard lock(mutex_);
        result = devices_[channel]->startStreaming();
    }
    wake();  // the capture thread takes the device into its wait
    return result;
}

void V4l2Source::stop(int channel) {
    {
        const std::lock_guard lock(mutex_);
        devices_[channel]->stopStreaming();
    }
    wake();
}

void V4l2Source::run() {
    struct Waiting {
        int channel;
        unsigned session;
    };
    std::vector<pollfd> waits;
    std::vector<Waiting> waiting;
    while (true) {
        waits.assign(1, pollfd{wake_, POLLIN, 0});
        waiting.clear();
        {
            const std::lock_guard lock(mutex_);
            if (quit_) {
                return;
            }
            watched_.clear();
            for (int channel = 0; channel < ChannelCount; ++channel) {
                const V4l2Device& device = *devices_[channel];
                if (device.isStreaming()) {
                    waits.push_back(pollfd{device.descriptor(), POLLIN, 0});
                    waiting.push_back({channel, device.session()});
                    watched_.push_back(device.descriptor());
                }
            }
        }
        watchChanged_.notify_all();
        if (system_->poll(waits.data(), waits.size(), -1) < 0) {
            if (errno != EINTR) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            continue;
        }
        if ((waits[0].revents & POLLIN) != 0) {
            std::uint64_t drained = 0;
            [[maybe_unused]] const auto got = read(wake_, &drained, sizeof drained);
        }
        const std::lock_guard lock(mutex_);
        for (std::size_t i = 1; i < waits.size(); ++i) {
            const int channel = waiting[i - 1].channel;
            V4l2Device& device = *devices_[channel];
            // Stopped, or restarted, while this thread waited: not this session any more.
            if (waits[i].revents == 0 || !device.isStreaming() ||
                device.session() != waiting[i - 1].session) {
                continue;
            }
            // A node that went away hangs up; a streaming queue in error says POLLERR.
            const short revents = waits[i].revents;
            const int failure = (revents & (POLLHUP | POLLNVAL)) != 0 ? ENODEV
                                : (revents & POLLERR) != 0            ? EIO
                                                                      : device.takeFrame(channels_[channel]);
            if (failure != 0) {
                // Unplugged or broken: the channel stops and keeps its last picture.
                device.markLost(failure);
                channels_[channel].markStopped(nullptr);
            }
        }
    }
}

}  // namespace kesmacap
