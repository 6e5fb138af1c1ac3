#pragma once

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "kesmacap/card/Card.h"
#include "kesmacap/v4l2/V4l2Node.h"
#include "kesmacap/v4l2/V4l2Settings.h"
#include "kesmacap/v4l2/V4l2System.h"

namespace kesmacap {

// Real capture devices through Video4Linux2: each window's device, input,
// standard and deinterlacing as V4l2Channels plans them; windows naming the
// same device (by any of its names) share one V4l2Node, each node its own
// thread.
//
// A window without a device answers ENODEV, as a card without the input
// would; one whose settings cannot work opens and says why in its picture.
class V4l2Source final : public FrameSource {
  public:
    static constexpr unsigned BufferCount = V4l2Device::BufferCount;

    V4l2Source(Channels& channels, std::unique_ptr<V4l2System> system, const V4l2Channels& plan);
    // Shorthand: channel n shows the n-th of these device paths.
    V4l2Source(Channels& channels, std::unique_ptr<V4l2System> system,
               const std::vector<std::string>& devices);
    ~V4l2Source() override;

    std::int32_t open(int channel) override;
    void close(int channel) override;
    std::int32_t start(int channel) override;
    void stop(int channel) override;

  private:
    class Routes;

    Channels& channels_;
    const std::unique_ptr<V4l2System> system_;
    const V4l2Channels plan_;
    const std::unique_ptr<Routes> routes_;  // outlives the nodes
    std::vector<std::unique_ptr<V4l2Node>> nodes_;
};

// The plan for a list of device paths, in channel order.
V4l2Channels PlanOfDevices(const std::vector<std::string>& devices);

}  // namespace kesmacap
