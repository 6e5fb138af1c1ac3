#include "platform/WindowSurface.h"

#include <algorithm>

WindowSurface::WindowSurface(int width, int height, RepaintRequest requestRepaint)
    : width_(std::max(width, 0)),
      height_(std::max(height, 0)),
      requestRepaint_(std::move(requestRepaint)),
      pixels_(std::make_unique<std::uint32_t[]>(static_cast<std::size_t>(width_) * height_)) {}

void WindowSurface::requestRepaint() {
    if (!repaintPending_.exchange(true, std::memory_order_acq_rel) && requestRepaint_) {
        requestRepaint_();
    }
}
