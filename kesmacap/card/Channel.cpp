#include "kesmacap/card/Channel.h"

#include <cerrno>
#include <cstring>
#include <utility>

namespace kesmacap {

Channel::Channel() = default;

Channel::~Channel() = default;

void Channel::markOpen() {
    const std::lock_guard lock(mutex_);
    open_ = true;
}

void Channel::markClosed() {
    const std::lock_guard lock(mutex_);
    open_ = false;
    started_ = false;
}

bool Channel::isOpen() const {
    const std::lock_guard lock(mutex_);
    return open_;
}

bool Channel::isStarted() const {
    const std::lock_guard lock(mutex_);
    return started_;
}

std::int32_t Channel::state() const {
    const std::lock_guard lock(mutex_);
    return started_ ? 2 : open_ ? 1 : 0;
}

std::int32_t Channel::checkPixelBytes(std::uint8_t bytes) const {
    const std::lock_guard lock(mutex_);
    if (!open_) {
        return EBADF;
    }
    return bytes == BytesPerPixel ? 0 : EINVAL;
}

std::int32_t Channel::checkMode(std::uint8_t mode) const {
    const std::lock_guard lock(mutex_);
    if (!open_) {
        return EBADF;
    }
    return mode == 0 ? 0 : EINVAL;
}

std::int32_t Channel::markStarted() {
    const std::lock_guard lock(mutex_);
    if (!open_) {
        return EBADF;
    }
    started_ = true;
    return 0;
}

void Channel::markStopped(const Picture* still) {
    const std::lock_guard lock(mutex_);
    started_ = false;
    if (still != nullptr) {
        still_ = still;
    }
}

void Channel::showStill(const Picture* still) {
    const std::lock_guard lock(mutex_);
    still_ = still;
}

bool Channel::publish(int width, int height) {
    const std::lock_guard lock(mutex_);
    if (!started_ || width < 0 || height < 0 || width > MaxWidth || height > MaxHeight) {
        return false;
    }
    Buffer& finished = buffers_[back_];
    finished.width = width;
    finished.height = height;
    finished.sequence = ++sequence_;
    std::swap(back_, ready_);
    readyIsNew_ = true;
    still_ = nullptr;
    event_.signal();
    return true;
}

std::int32_t Channel::lend(Lent& frame) {
    const std::lock_guard lock(mutex_);
    if (!open_) {
        frame = Lent{};
        return EBADF;
    }
    if (still_ != nullptr) {
        frame = Lent{still_->pixels.data(), still_->width, still_->height, sequence_};
        return 0;
    }
    if (readyIsNew_) {
        // The older of the two lent buffers goes back to the producer.
        const int freed = previousLent_;
        previousLent_ = lent_;
        lent_ = ready_;
        ready_ = freed;
        readyIsNew_ = false;
    }
    const Buffer& current = buffers_[lent_];
    frame = Lent{current.pixels.data(), current.width, current.height, current.sequence};
    return 0;
}

PictureView Channel::currentLocked() const {
    if (still_ != nullptr) {
        return still_->view();
    }
    const Buffer& current = buffers_[readyIsNew_ ? ready_ : lent_];
    return {current.pixels.data(), current.width, current.height};
}

std::int32_t Channel::snapshot(Picture& copy) const {
    const std::lock_guard lock(mutex_);
    if (!open_) {
        return EBADF;
    }
    const PictureView current = currentLocked();
    copy = Picture(current.width, current.height);
    std::memcpy(copy.pixels.data(), current.pixels, copy.pixels.size());
    return 0;
}

}  // namespace kesmacap
