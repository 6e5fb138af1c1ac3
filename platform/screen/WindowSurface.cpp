#include "platform/screen/WindowSurface.h"

#include <algorithm>

#include "platform/linux/PixelConversion.h"

WindowSurface::WindowSurface(int width, int height, RepaintRequest requestRepaint)
    : width_(std::max(width, 0)),
      height_(std::max(height, 0)),
      requestRepaint_(std::move(requestRepaint)),
      pixels_(std::make_unique<std::uint32_t[]>(static_cast<std::size_t>(width_) * height_)) {}

void WindowSurface::draw(const BgrBlock& block) {
    {
        const std::lock_guard lock(mutex_);
        for (int row = 0; row < block.height; ++row) {
            std::uint32_t* const to =
                pixels_.get() + static_cast<std::size_t>(block.y + row) * width_ + block.x;
            ConvertBgrRowToXrgb(block.row(row), to, block.width);
        }
        extent_.width = std::max(extent_.width, block.x + block.width);
        extent_.height = std::max(extent_.height, block.y + block.height);
    }
    requestRepaint();
}

void WindowSurface::requestRepaint() {
    if (!repaintPending_.exchange(true, std::memory_order_acq_rel) && requestRepaint_) {
        requestRepaint_();
    }
}
