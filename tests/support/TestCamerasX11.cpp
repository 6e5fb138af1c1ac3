// The test cameras as native X windows that the live view puts pictures into
// from its worker, read back from the server: the live view's suites run on
// the X11 path too. QUADVIEW_TEST_TRANSFER=put holds them to plain puts.
#include <xcb/xcb.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <stdexcept>

#include "platform/screen/X11Window.h"
#include "tests/support/TestCameras.h"
#include "tests/support/TestX11.h"

namespace testing_support {

namespace {

// What no picture holds: a window still showing it was never drawn there.
constexpr std::uint32_t Unpainted = 0x123456u;

}  // namespace

struct TestCameras::Windows {
    // The windows belong to another client, as they belong to the toolkit in the viewer.
    xcb_connection_t* owner = xcb_connect(nullptr, nullptr);
    std::unique_ptr<X11Display> display = X11Display::open(nullptr, TransferUnderTest());
    std::array<xcb_window_t, ChannelCount> ids{};
    std::array<std::unique_ptr<X11Window>, ChannelCount> cameras;

    ~Windows() {
        cameras = {};
        xcb_disconnect(owner);
    }

    // Every put made so far has been carried out once this returns.
    void settle() const { AwaitServer(display->connection()); }

    XcbPointer<xcb_get_image_reply_t> image(ChannelIndex channel, int x, int y, int width, int height) const {
        settle();
        return ReadWindow(owner, ids[channel], x, y, width, height);
    }
};

TestCameras::TestCameras() : windows_(std::make_unique<Windows>()) {
    Windows& w = *windows_;
    if (xcb_connection_has_error(w.owner) != 0 || !w.display ||
        w.display->transfer() != TransferUnderTest()) {
        throw std::runtime_error("no X display taking 32-bit pixels with the transfer under test");
    }
    for (ChannelIndex channel = 0; channel < ChannelCount; ++channel) {
        w.ids[channel] = MakeTestWindow(w.owner, channel % 2 * 640, channel / 2 * 480, 640, 480, Unpainted);
        w.cameras[channel] = std::make_unique<X11Window>(*w.display, 640, 480);
        w.cameras[channel]->setWindow(w.ids[channel]);
    }
}

TestCameras::~TestCameras() = default;

CameraWindows TestCameras::handles() const {
    CameraWindows handles{};
    for (std::size_t i = 0; i < handles.size(); ++i) {
        handles[i] = windows_->cameras[i].get();
    }
    return handles;
}

std::uint32_t TestCameras::at(ChannelIndex channel, int x, int y) const {
    const auto reply = windows_->image(channel, x, y, 1, 1);
    std::uint32_t pixel = 0;
    if (reply && xcb_get_image_data_length(reply.get()) >= 4) {
        std::memcpy(&pixel, xcb_get_image_data(reply.get()), 4);
    }
    return pixel | 0xFF000000u;
}

bool TestCameras::drawn(ChannelIndex channel) const {
    const auto reply = windows_->image(channel, 0, 0, 640, 480);
    if (!reply || xcb_get_image_data_length(reply.get()) < 640 * 480 * 4) {
        return false;
    }
    const auto* const pixels = reinterpret_cast<const std::uint32_t*>(xcb_get_image_data(reply.get()));
    for (int i = 0; i < 640 * 480; ++i) {
        if ((pixels[i] & 0xFFFFFFu) == Unpainted) {
            return false;
        }
    }
    return true;
}

}  // namespace testing_support
