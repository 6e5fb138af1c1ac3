// A native X window drawn from the worker's side, as the server sees it:
// exposures, a window destroyed underneath, a server that stops reading.
#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <array>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "platform/DrawableWindow.h"
#include "platform/screen/X11Window.h"
#include "tests/support/TestX11.h"

namespace {

using namespace std::chrono_literals;

class X11WindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        transfer = testing_support::TransferUnderTest();
        display = X11Display::open(nullptr, transfer);
        ASSERT_TRUE(display);
        ASSERT_EQ(display->transfer(), transfer);
        window = std::make_unique<X11Window>(*display, 640, 480);
        window->setFace(0x808080u);
        window->setWindow(makeWindow());
    }
    void TearDown() override {
        window.reset();
        xcb_disconnect(owner);
    }

    xcb_window_t makeWindow() { return testing_support::MakeTestWindow(owner, 0, 0, 700, 500, 0x000000u); }
    static void sync(xcb_connection_t* connection) { AwaitServer(connection); }

    // A solid block of 24-bit pixels shown at (x, y).
    void draw(std::uint32_t rgb, int x = 0, int y = 0, int width = 640, int height = 480) {
        std::vector<std::uint8_t> row(static_cast<std::size_t>(width) * 3);
        for (std::size_t i = 0; i < row.size(); i += 3) {
            row[i] = rgb & 0xFF;
            row[i + 1] = (rgb >> 8) & 0xFF;
            row[i + 2] = (rgb >> 16) & 0xFF;
        }
        window->draw(BgrBlock{row.data(), 0, x, y, width, height});
    }

    std::uint32_t pixel(int x, int y) {
        sync(display->connection());
        const auto reply = testing_support::ReadWindow(owner, shown, x, y, 1, 1);
        std::uint32_t value = 0;
        if (reply) {
            std::memcpy(&value, xcb_get_image_data(reply.get()), 4);
        }
        return value & 0xFFFFFFu;
    }

    void clear() {
        xcb_clear_area(owner, 0, shown, 0, 0, 0, 0);
        sync(owner);
    }

    X11Display::Transfer transfer{};
    xcb_connection_t* owner = xcb_connect(nullptr, nullptr);
    std::unique_ptr<X11Display> display;
    std::unique_ptr<X11Window> window;
    xcb_window_t shown = 0;
};

TEST_F(X11WindowTest, PartsKeepTheRestAndAnExposureShowsTheLastPictureAndTheFace) {
    shown = makeWindow();
    window->setWindow(shown);
    draw(0xFF0000);
    draw(0x00FF00, 100, 100, 50, 50);  // a part, into the other image where there are two
    EXPECT_EQ(pixel(0, 0), 0xFF0000u);
    EXPECT_EQ(pixel(120, 120), 0x00FF00u);
    EXPECT_EQ(pixel(639, 479), 0xFF0000u);
    clear();
    ASSERT_EQ(pixel(10, 10), 0x000000u);
    window->expose(X11Window::Area{0, 0, 700, 500});
    EXPECT_EQ(pixel(10, 10), 0xFF0000u) << "the last picture, without a new frame";
    EXPECT_EQ(pixel(120, 120), 0x00FF00u);
    EXPECT_EQ(pixel(660, 10), 0x808080u) << "the face right of the picture";
    EXPECT_EQ(pixel(10, 490), 0x808080u) << "and below it";
}

TEST_F(X11WindowTest, ExposuresFromTheWindowsThreadWhileTheDrawerDraws) {
    shown = makeWindow();
    window->setWindow(shown);
    std::thread drawer([this] {
        for (int i = 0; i < 200; ++i) {
            draw(i % 2 == 0 ? 0x400000 : 0x004000);
        }
        draw(0x0000C0);
    });
    for (int i = 0; i < 200; ++i) {
        window->expose(X11Window::Area{0, 0, 700, 500});
    }
    drawer.join();
    EXPECT_EQ(pixel(320, 240), 0x0000C0u) << "the last picture drawn is the one shown";
    window->expose(X11Window::Area{0, 0, 700, 500});
    EXPECT_EQ(pixel(320, 240), 0x0000C0u) << "and the one an exposure shows";
}

TEST_F(X11WindowTest, WindowDestroyedUnderneathCostsAnErrorAndNothingElse) {
    shown = makeWindow();
    window->setWindow(shown);
    draw(0x0000FF);
    xcb_destroy_window(owner, shown);
    sync(owner);
    for (int i = 0; i < 5; ++i) {
        draw(0x00FF00);
    }
    window->expose(X11Window::Area{0, 0, 640, 480});
    sync(display->connection());
    display->readEvents();
    EXPECT_GT(display->errorCount(), 0u) << "the server's errors arrive and are counted";
    EXPECT_FALSE(display->broken());
    shown = makeWindow();
    window->setWindow(shown);
    draw(0xFFFF00);
    EXPECT_EQ(pixel(5, 5), 0xFFFF00u) << "the next window is drawn as before";
}

TEST_F(X11WindowTest, StalledServerNeitherBlocksTheDrawerNorGetsAnImageOverwritten) {
    if (transfer == X11Display::Transfer::PutImage) {
        GTEST_SKIP()
            << "plain puts carry the pixels in the request: a server that reads nothing holds the writer";
    }
    shown = makeWindow();
    window->setWindow(shown);
    draw(0x101010);
    sync(display->connection());
    // Another client holds the server: nothing of ours is read until it lets go.
    // A round trip, so that the grab holds before the first put arrives.
    xcb_grab_server(owner);
    sync(owner);
    const auto start = std::chrono::steady_clock::now();
    const std::array<std::uint32_t, 6> pictures{0x200000, 0x002000, 0x000020, 0x202000, 0x002020, 0x200020};
    for (const std::uint32_t picture : pictures) {
        draw(picture);
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s)
        << "the drawer waits briefly, never for the server";
    xcb_ungrab_server(owner);
    xcb_flush(owner);
    // The server reads the images only when it gets to the puts. Those still
    // waiting were not written again: the last put shows the last picture put
    // before the server stopped, not a later one.
    EXPECT_EQ(pixel(320, 240), pictures[1]);
    draw(0x303030);
    EXPECT_EQ(pixel(320, 240), 0x303030u) << "and drawing goes on";
}

}  // namespace
