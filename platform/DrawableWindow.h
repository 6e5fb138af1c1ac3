// What a window handle (HWND) refers to on Linux: a window that any thread may
// draw 24-bit pixels into. How they reach the screen is the window's business:
// straight to the X server, or through a surface its own thread paints.
#pragma once

#include <cstddef>
#include <cstdint>

// Rows of 24-bit B, G, R pixels already clipped to the window: width x height
// pixels whose top-left lands at (x, y).
struct BgrBlock {
    const std::uint8_t* firstRow = nullptr;
    std::ptrdiff_t stride = 0;  // negative for a bottom-up bitmap
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;

    const std::uint8_t* row(int index) const { return firstRow + index * stride; }
};

class DrawableWindow {
  public:
    DrawableWindow() = default;
    DrawableWindow(const DrawableWindow&) = delete;
    DrawableWindow& operator=(const DrawableWindow&) = delete;
    virtual ~DrawableWindow() = default;

    // The drawable area from the top-left corner; a block never reaches past it.
    virtual int width() const = 0;
    virtual int height() const = 0;
    // Shows the block. Called from whichever thread draws.
    virtual void draw(const BgrBlock& block) = 0;
};
