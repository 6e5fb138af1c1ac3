// Four camera windows for the live view to draw into, and a way to read them
// back: window surfaces on Linux, real windows on Windows.
#pragma once

#include <cstdint>
#include <memory>

#include "liveview/LiveView.h"

namespace testing_support {

class TestCameras {
  public:
    TestCameras();
    ~TestCameras();
    TestCameras(const TestCameras&) = delete;
    TestCameras& operator=(const TestCameras&) = delete;

    CameraWindows handles() const;
    // The pixel as 0xFFRRGGBB.
    std::uint32_t at(ChannelIndex channel, int x, int y) const;
    // Whether anything was drawn into the window's 640 x 480 area since it was made.
    bool drawn(ChannelIndex channel) const;

  private:
    struct Windows;
    std::unique_ptr<Windows> windows_;
};

}  // namespace testing_support
