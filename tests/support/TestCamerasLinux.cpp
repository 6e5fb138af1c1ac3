#include <array>

#include "platform/screen/WindowSurface.h"
#include "tests/support/TestCameras.h"

namespace testing_support {

struct TestCameras::Windows {
    std::array<std::unique_ptr<WindowSurface>, ChannelCount> surfaces;
};

TestCameras::TestCameras() : windows_(std::make_unique<Windows>()) {
    for (auto& surface : windows_->surfaces) {
        surface = std::make_unique<WindowSurface>(640, 480, [] {});
    }
}

TestCameras::~TestCameras() = default;

CameraWindows TestCameras::handles() const {
    CameraWindows handles{};
    for (std::size_t i = 0; i < handles.size(); ++i) {
        handles[i] = windows_->surfaces[i].get();
    }
    return handles;
}

std::uint32_t TestCameras::at(ChannelIndex channel, int x, int y) const {
    std::uint32_t value = 0;
    windows_->surfaces[channel]->read(
        [&](const std::uint32_t* pixels, WindowSurface::Extent) { value = pixels[y * 640 + x]; });
    return value;
}

bool TestCameras::drawn(ChannelIndex channel) const {
    bool whole = false;
    windows_->surfaces[channel]->read([&](const std::uint32_t*, WindowSurface::Extent extent) {
        whole = extent.width == 640 && extent.height == 480;
    });
    return whole;
}

}  // namespace testing_support
