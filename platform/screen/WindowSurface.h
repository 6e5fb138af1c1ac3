#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "platform/DrawableWindow.h"

// A window whose pixels wait in memory for the window's own thread to paint
// them: a buffer in the display's 32-bit format (bytes B, G, R, X) under a
// lock, and a repaint request that coalesces so a fast drawer queues at most
// one repaint. The path where no native window can be drawn into directly.
class WindowSurface final : public DrawableWindow {
  public:
    // Called from whichever thread draws; must only post work to the window's thread.
    using RepaintRequest = std::function<void()>;

    WindowSurface(int width, int height, RepaintRequest requestRepaint);

    int width() const override { return width_; }
    int height() const override { return height_; }
    int stride() const { return width_ * 4; }
    void draw(const BgrBlock& block) override;

    // The part drawn so far, from the top-left corner; the rest was never
    // drawn and shows the window's own face.
    struct Extent {
        int width = 0;
        int height = 0;
    };

    // Runs read(pixels, extent) under the lock, for painting or inspection.
    template <typename Read>
    void read(Read&& readPixels) const {
        const std::lock_guard lock(mutex_);
        readPixels(static_cast<const std::uint32_t*>(pixels_.get()), extent_);
    }

    // The window's thread calls this when it takes the pending request, before it paints.
    void repaintTaken() { repaintPending_.store(false, std::memory_order_release); }

  private:
    // Asks for one repaint unless one is already pending.
    void requestRepaint();

    const int width_;
    const int height_;
    const RepaintRequest requestRepaint_;
    mutable std::mutex mutex_;
    std::unique_ptr<std::uint32_t[]> pixels_;
    Extent extent_;
    std::atomic<bool> repaintPending_{false};
};
