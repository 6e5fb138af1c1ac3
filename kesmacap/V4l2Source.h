#pragma once

#include <array>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <linux/videodev2.h>

#include "kesmacap/Card.h"
#include "kesmacap/V4l2System.h"

namespace kesmacap {

// Real capture devices through Video4Linux2: channel n is the n-th device,
// opened at the highest frame rate it offers at the negotiated size. One
// capture thread waits on every streaming device with poll, copies each
// dequeued frame into its channel (clipped to 640 x 480) and requeues the
// buffer. A device that fails stops its channel; its last picture stays, and
// starting it again answers the failure (ENODEV when unplugged) until it is closed.
//
// Buffers are requested at the first start and kept until the close: a stop
// only turns streaming off, and a start queues them again. The kernel's
// buffer layer answers a poll on a queue without buffers by starting its
// read() emulation, which holds the queue until the device is closed; so no
// queue ever goes without buffers while it is open, and the capture thread
// has stopped watching a device before its buffers go.
class V4l2Source final : public FrameSource {
  public:
    static constexpr unsigned BufferCount = 4;

    V4l2Source(Channels& channels, std::unique_ptr<V4l2System> system, std::vector<std::string> devices);
    ~V4l2Source() override;

    std::int32_t open(int channel) override;
    void close(int channel) override;
    std::int32_t start(int channel) override;
    void stop(int channel) override;

  private:
    struct Mapping {
        void* address = nullptr;
        std::size_t length = 0;
    };
    struct Device {
        int fd = -1;
        int width = 0;
        int height = 0;
        std::size_t bytesPerLine = 0;
        std::vector<Mapping> buffers;
        bool streaming = false;
        int lost = 0;  // the errno of a failure while streaming: ENODEV when unplugged
        // Counts streaming sessions: a descriptor number can come back for
        // another device, so a wait result is only taken for its own session.
        unsigned session = 0;
    };

    void run();
    void wake() const;
    void setFastestFrameRate(int fd, const v4l2_pix_format& format) const;
    std::int32_t startStreamingLocked(Device& device);
    std::int32_t requestBuffersLocked(Device& device);
    void stopStreamingLocked(Device& device);
    void releaseBuffersLocked(Device& device);
    // Blocks until the capture thread's wait no longer holds fd.
    void waitUntilUnwatchedLocked(std::unique_lock<std::mutex>& lock, int fd);
    // Takes one ready frame (one dequeue per readiness: libv4l2 logs every
    // dequeue that finds nothing); 0, or the errno when the device failed.
    int takeFrameLocked(int channel);
    void copyFrame(int channel, const Device& device, const Mapping& buffer, std::size_t bytesUsed);

    Channels& channels_;
    const std::unique_ptr<V4l2System> system_;
    const std::vector<std::string> devices_;
    std::mutex mutex_;
    std::condition_variable watchChanged_;
    std::array<Device, ChannelCount> state_{};
    std::vector<int> watched_;  // the descriptors in the capture thread's current wait
    int wake_ = -1;
    bool quit_ = false;
    std::thread thread_;
};

}  // namespace kesmacap
