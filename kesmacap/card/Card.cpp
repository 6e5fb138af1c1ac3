#include "kesmacap/card/Card.h"

#include <cerrno>

#include "kesmacap/pictures/PictureWriter.h"

namespace kesmacap {

namespace {

bool valid(std::uint16_t channel) {
    return channel < ChannelCount;
}

}  // namespace

Card::~Card() {
    for (std::uint16_t channel = 0; channel < ChannelCount; ++channel) {
        CloseChannel(channel);
    }
}

void Card::stopLocked(int channel) {
    // Marked first, so a frame the back end is finishing now is dropped.
    channels_[channel].markStopped(source_->still(channel));
    source_->stop(channel);
}

std::int32_t Card::OpenChannel(std::uint16_t channel) {
    if (!valid(channel)) {
        return EINVAL;
    }
    // Under the control lock only: the back end's locks are never taken inside a channel's.
    const std::lock_guard lock(control_);
    Channel& target = channels_[channel];
    if (target.isOpen()) {
        return 0;
    }
    const std::int32_t result = source_->open(channel);
    if (result == 0) {
        target.showStill(source_->still(channel));
        target.markOpen();
    }
    return result;
}

std::int32_t Card::StopChannel(std::uint16_t channel) {
    if (!valid(channel)) {
        return EINVAL;
    }
    const std::lock_guard lock(control_);
    if (channels_[channel].isStarted()) {
        stopLocked(channel);
    }
    return 0;
}

// The flag has no meaning on these cards; it is accepted in every state.
std::int32_t Card::SetChannelFlag(std::uint16_t channel, std::int32_t /*value*/) {
    return valid(channel) ? 0 : EINVAL;
}

std::int32_t Card::CloseChannel(std::uint16_t channel) {
    if (!valid(channel)) {
        return EINVAL;
    }
    const std::lock_guard lock(control_);
    Channel& target = channels_[channel];
    if (target.isOpen()) {
        if (target.isStarted()) {
            stopLocked(channel);
        }
        target.markClosed();
        source_->close(channel);
    }
    return 0;
}

std::int32_t Card::GetChannelEvent(std::uint16_t channel, kesmacap_event* event) {
    if (!valid(channel) || event == nullptr) {
        return EINVAL;
    }
    const FrameEvent& frameEvent = channels_[channel].event();
    if (!frameEvent.valid()) {
        return EMFILE;
    }
    *event = frameEvent.native();
    return 0;
}

std::int32_t Card::SetChannelPixelBytes(std::uint16_t channel, std::uint8_t bytes) {
    return valid(channel) ? channels_[channel].checkPixelBytes(bytes) : EINVAL;
}

std::int32_t Card::SetChannelMode(std::uint16_t channel, std::uint8_t mode) {
    return valid(channel) ? channels_[channel].checkMode(mode) : EINVAL;
}

std::int32_t Card::GetChannelFrame(std::uint16_t channel, std::uint8_t** pixels, std::int32_t* width,
                                   std::int32_t* height, std::int32_t* sequence) {
    Channel::Lent frame;
    const std::int32_t result = valid(channel) ? channels_[channel].lend(frame) : EINVAL;
    // Every output is written, also on failure: null and 0 x 0.
    if (pixels != nullptr) {
        *pixels = const_cast<std::uint8_t*>(frame.pixels);
    }
    if (width != nullptr) {
        *width = frame.width;
    }
    if (height != nullptr) {
        *height = frame.height;
    }
    if (sequence != nullptr) {
        *sequence = frame.sequence;
    }
    return result;
}

std::int32_t Card::StartChannel(std::uint16_t channel, std::int32_t /*value*/) {
    if (!valid(channel)) {
        return EINVAL;
    }
    const std::lock_guard lock(control_);
    Channel& target = channels_[channel];
    if (!target.isOpen()) {
        return EBADF;
    }
    if (target.isStarted()) {
        return 0;
    }
    std::int32_t result = target.markStarted();
    if (result == 0) {
        result = source_->start(channel);
        if (result != 0) {
            target.markStopped(nullptr);
        }
    }
    return result;
}

std::int32_t Card::QueryChannelState(std::uint16_t channel, std::int32_t* state) {
    if (!valid(channel) || state == nullptr) {
        return EINVAL;
    }
    *state = channels_[channel].state();
    return 0;
}

std::int32_t Card::SaveChannelPicture(std::uint16_t channel, const char* path, std::uint8_t format,
                                      std::int32_t value) {
    if (!valid(channel) || path == nullptr) {
        return EINVAL;
    }
    Picture picture;
    const std::int32_t result = channels_[channel].snapshot(picture);
    return result != 0 ? result : SavePicture(picture.view(), path, channel, format, value);
}

}  // namespace kesmacap
