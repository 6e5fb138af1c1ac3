#pragma once

#include <xcb/xcb.h>

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>

#include "platform/DrawableWindow.h"
#include "platform/screen/X11Display.h"

// A native X window drawn into straight from the drawing thread: each block is
// converted into an image of the window's own and put on the live view's
// connection. With shared memory there are two images, so the drawer writes
// one while the server may still read the other, and it never writes an image
// the server has not finished with. The last picture stays for exposures.
class X11Window final : public DrawableWindow {
  public:
    struct Area {
        int x = 0;
        int y = 0;
        int width = 0;
        int height = 0;
    };

    // The display outlives the window; nothing draws while it is destroyed.
    X11Window(X11Display& display, int width, int height);
    ~X11Window() override;

    int width() const override { return width_; }
    int height() const override { return height_; }
    void draw(const BgrBlock& block) override;

    // The X window shown in, 0 while there is none; the owner's thread.
    void setWindow(xcb_window_t window);
    // The colour shown where no picture was drawn, as a 0xRRGGBB pixel.
    void setFace(std::uint32_t pixel);
    // Shows the area again: the last picture where one was drawn, the face elsewhere.
    void expose(const Area& area);

  private:
    class Image;

    void put(Image& image, const Area& area);

    X11Display& display_;
    const int width_;
    const int height_;
    const xcb_gcontext_t pictureContext_;
    const xcb_gcontext_t faceContext_;
    mutable std::mutex mutex_;
    xcb_window_t window_ = 0;
    std::array<std::unique_ptr<Image>, 2> images_;
    int latest_ = -1;  // the image holding the last picture
    Area drawn_;       // from the top-left corner
};
