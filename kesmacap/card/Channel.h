#pragma once

#include <array>
#include <cstdint>
#include <mutex>

#include "kesmacap/card/FrameEvent.h"
#include "kesmacap/pictures/Picture.h"

namespace kesmacap {

// One channel's bookkeeping, shared by every capture back end: open and
// started state, settings, the event, and the exchange of frames between the
// one thread that produces them and any thread that borrows them.
//
// Frames live in four fixed buffers: one the producer writes, one holding the
// newest finished frame, and the last two lent out. Keeping two lent buffers
// means two threads borrowing at once (the viewer's worker and its GUI thread)
// each keep their pixels unchanged until their next call.
class Channel {
  public:
    Channel();
    ~Channel();
    Channel(const Channel&) = delete;
    Channel& operator=(const Channel&) = delete;

    // The channel's event, or none when the system had none to give.
    const FrameEvent& event() const { return event_; }

    void markOpen();
    void markClosed();
    bool isOpen() const;
    bool isStarted() const;
    std::int32_t state() const;

    // The card has one setting: 3 bytes per pixel in mode 0 (640 x 480); these only check.
    std::int32_t checkPixelBytes(std::uint8_t bytes) const;
    std::int32_t checkMode(std::uint8_t mode) const;

    // Marks the channel started: from now on published frames signal the event.
    std::int32_t markStarted();
    // Marks it stopped; still, when given, becomes its picture until the next live frame.
    void markStopped(const Picture* still);
    // Shows still as the picture while no live frame has come.
    void showStill(const Picture* still);

    // Producer side: the buffer to fill, then publish it as a frame of that size.
    std::uint8_t* backBuffer() { return buffers_[back_].pixels.data(); }
    // Returns false and drops the frame when the channel is not started.
    bool publish(int width, int height);

    struct Lent {
        const std::uint8_t* pixels = nullptr;
        std::int32_t width = 0;
        std::int32_t height = 0;
        std::int32_t sequence = 0;
    };
    // The current picture, kept unchanged until this channel's next lend; EBADF when closed.
    std::int32_t lend(Lent& frame);
    // Copies the current picture; EBADF when closed.
    std::int32_t snapshot(Picture& copy) const;

  private:
    struct Buffer {
        std::vector<std::uint8_t> pixels = std::vector<std::uint8_t>(MaxFrameBytes);
        int width = MaxWidth;
        int height = MaxHeight;
        std::int32_t sequence = 0;
    };
    PictureView currentLocked() const;

    FrameEvent event_;
    mutable std::mutex mutex_;
    bool open_ = false;
    bool started_ = false;
    const Picture* still_ = nullptr;

    std::array<Buffer, 4> buffers_{};
    int back_ = 0;
    int ready_ = 1;
    int lent_ = 2;
    int previousLent_ = 3;
    bool readyIsNew_ = false;
    std::int32_t sequence_ = 0;
};

}  // namespace kesmacap
