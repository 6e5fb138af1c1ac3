#pragma once

#include <array>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "kesmacap/Card.h"
#include "kesmacap/V4l2System.h"

namespace kesmacap {

// Real capture devices through Video4Linux2: channel n is the n-th device.
// One capture thread waits on every streaming device with poll, copies each
// dequeued frame into its channel (clipped to 640 x 480) and requeues the
// buffer. A device that fails stops its channel; its last picture stays.
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
        // Counts streaming sessions: a descriptor number can come back for
        // another device, so a wait result is only taken for its own session.
        unsigned session = 0;
    };

    void run();
    void wake() const;
    std::int32_t startStreamingLocked(Device& device);
    void stopStreamingLocked(Device& device);
    // Takes every frame the device has ready; false when the device failed.
    bool takeFramesLocked(int channel);
    void copyFrame(int channel, const Device& device, const Mapping& buffer, std::size_t bytesUsed);

    Channels& channels_;
    const std::unique_ptr<V4l2System> system_;
    const std::vector<std::string> devices_;
    std::mutex mutex_;
    std::array<Device, ChannelCount> state_{};
    int wake_ = -1;
    bool quit_ = false;
    std::thread thread_;
};

}  // namespace kesmacap
