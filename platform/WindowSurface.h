#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

// The pixels of one window as any thread may draw them: a buffer in the
// display's native 32-bit format (bytes B, G, R, X), guarded by a lock, and a
// repaint request that coalesces so a fast drawer queues at most one repaint.
// The window that owns the surface paints it on its own thread.
class WindowSurface {
  public:
    // Called from whichever thread draws; must only post work to the window's thread.
    using RepaintRequest = std::function<void()>;

    WindowSurface(int width, int height, RepaintRequest requestRepaint);
    WindowSurface(const WindowSurface&) = delete;
    WindowSurface& operator=(const WindowSurface&) = delete;

    int width() const { return width_; }
    int height() const { return height_; }
    int stride() const { return width_ * 4; }

    // The part drawn so far, from the top-left corner; the rest was never
    // drawn and shows the window's own face.
    struct Extent {
        int width = 0;
        int height = 0;
    };

    // Runs draw(pixels, extent) under the lock; draw may widen the extent.
    template <typename Draw>
    void draw(Draw&& drawPixels) {
        {
            const std::lock_guard lock(mutex_);
            drawPixels(pixels_.get(), extent_);
        }
        requestRepaint();
    }

    // Runs read(pixels, extent) under the lock, for painting or inspection.
    template <typename Read>
    void read(Read&& readPixels) const {
        const std::lock_guard lock(mutex_);
        readPixels(static_cast<const std::uint32_t*>(pixels_.get()), extent_);
    }

    // Asks for one repaint unless one is already pending.
    void requestRepaint();
    // The window's thread calls this when it takes the pending request, before it paints.
    void repaintTaken() { repaintPending_.store(false, std::memory_order_release); }

  private:
    const int width_;
    const int height_;
    const RepaintRequest requestRepaint_;
    mutable std::mutex mutex_;
    std::unique_ptr<std::uint32_t[]> pixels_;
    Extent extent_;
    std::atomic<bool> repaintPending_{false};
};
