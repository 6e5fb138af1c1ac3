// X windows of the tests' own, on a connection of their own (as the toolkit's
// are in the viewer), and what the server shows in them.
#pragma once

#include <xcb/xcb.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "platform/screen/X11Display.h"

namespace testing_support {

// The transfer the suite runs with: QUADVIEW_TEST_TRANSFER=put holds it to plain puts.
inline X11Display::Transfer TransferUnderTest() {
    const char* const chosen = std::getenv("QUADVIEW_TEST_TRANSFER");
    return chosen != nullptr && std::strcmp(chosen, "put") == 0 ? X11Display::Transfer::PutImage
                                                                : X11Display::Transfer::SharedMemory;
}

// A mapped top-level window without a window manager's frame, filled with `background`.
inline xcb_window_t MakeTestWindow(xcb_connection_t* owner, int x, int y, int width, int height,
                                   std::uint32_t background) {
    const xcb_screen_t* const screen = xcb_setup_roots_iterator(xcb_get_setup(owner)).data;
    const xcb_window_t id = xcb_generate_id(owner);
    const std::array<std::uint32_t, 2> values{background, 1};
    xcb_create_window(owner, XCB_COPY_FROM_PARENT, id, screen->root, static_cast<std::int16_t>(x),
                      static_cast<std::int16_t>(y), static_cast<std::uint16_t>(width),
                      static_cast<std::uint16_t>(height), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                      screen->root_visual, XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT, values.data());
    xcb_map_window(owner, id);
    AwaitServer(owner);
    return id;
}

// What the server shows of the window there, as 32-bit pixels.
inline XcbPointer<xcb_get_image_reply_t> ReadWindow(xcb_connection_t* owner, xcb_window_t window, int x,
                                                    int y, int width, int height) {
    return XcbPointer<xcb_get_image_reply_t>(xcb_get_image_reply(
        owner,
        xcb_get_image(owner, XCB_IMAGE_FORMAT_Z_PIXMAP, window, static_cast<std::int16_t>(x),
                      static_cast<std::int16_t>(y), static_cast<std::uint16_t>(width),
                      static_cast<std::uint16_t>(height), ~0u),
        nullptr));
}

}  // namespace testing_support
