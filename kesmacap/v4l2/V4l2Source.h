#pragma once

#include <array>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "kesmacap/card/Card.h"
#include "kesmacap/v4l2/V4l2Device.h"
#include "kesmacap/v4l2/V4l2System.h"

namespace kesmacap {

// Real capture devices through Video4Linux2: channel n is the n-th device
// (V4l2Device). One capture thread waits on every streaming device with poll
// and has each ready device copy its frame into its channel. A device that
// fails stops its channel; its last picture stays, and starting it again
// answers the failure (ENODEV when unplugged) until it is closed.
//
// A stop only turns streaming off and keeps the buffers. The kernel's
// buffer layer answers a poll on a queue without buffers by starting its
// read() emulation, which holds the queue until the device is closed; so no
// queue ever goes without buffers while it is open, and the capture thread
// has stopped watching a device before its buffers go.
class V4l2Source final : public FrameSource {
  public:
    static constexpr unsigned BufferCount = V4l2Device::BufferCount;

    V4l2Source(Channels& channels, std::unique_ptr<V4l2System> system, std::vector<std::string> devices);
    ~V4l2Source() override;

    std::int32_t open(int channel) override;
    void close(int channel) override;
    std::int32_t start(int channel) override;
    void stop(int channel) override;

  private:
    void run();
    void wake() const;
    // Blocks until the capture thread's wait no longer holds fd.
    void waitUntilUnwatchedLocked(std::unique_lock<std::mutex>& lock, int fd);

    Channels& channels_;
    const std::unique_ptr<V4l2System> system_;
    const std::vector<std::string> paths_;
    std::mutex mutex_;
    std::condition_variable watchChanged_;
    std::array<std::unique_ptr<V4l2Device>, ChannelCount> devices_;
    std::vector<int> watched_;  // the descriptors in the capture thread's current wait
    int wake_ = -1;
    bool quit_ = false;
    std::thread thread_;
};

}  // namespace kesmacap
