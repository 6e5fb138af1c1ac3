// The library's one exported symbol: the capture ABI's operations by ordinal.
#include "capture/kesmacap.h"
#include "kesmacap/Card.h"

namespace {

using kesmacap::TheCard;

std::int32_t openChannel(std::uint16_t channel) {
    return TheCard().OpenChannel(channel);
}
std::int32_t stopChannel(std::uint16_t channel) {
    return TheCard().StopChannel(channel);
}
std::int32_t setChannelFlag(std::uint16_t channel, std::int32_t value) {
    return TheCard().SetChannelFlag(channel, value);
}
std::int32_t closeChannel(std::uint16_t channel) {
    return TheCard().CloseChannel(channel);
}
std::int32_t getChannelEvent(std::uint16_t channel, int* event) {
    return TheCard().GetChannelEvent(channel, event);
}
std::int32_t setChannelPixelBytes(std::uint16_t channel, std::uint8_t bytes) {
    return TheCard().SetChannelPixelBytes(channel, bytes);
}
std::int32_t setChannelMode(std::uint16_t channel, std::uint8_t mode) {
    return TheCard().SetChannelMode(channel, mode);
}
std::int32_t getChannelFrame(std::uint16_t channel, std::uint8_t** pixels, std::int32_t* width,
                             std::int32_t* height, std::int32_t* sequence) {
    return TheCard().GetChannelFrame(channel, pixels, width, height, sequence);
}
std::int32_t startChannel(std::uint16_t channel, std::int32_t value) {
    return TheCard().StartChannel(channel, value);
}
std::int32_t queryChannelState(std::uint16_t channel, std::int32_t* state) {
    return TheCard().QueryChannelState(channel, state);
}
std::int32_t saveChannelPicture(std::uint16_t channel, const char* path, std::uint8_t format,
                                std::int32_t value) {
    return TheCard().SaveChannelPicture(channel, path, format, value);
}

template <typename Function>
kesmacap_fn generic(Function function) {
    return reinterpret_cast<kesmacap_fn>(function);
}

}  // namespace

extern "C" __attribute__((visibility("default"))) kesmacap_fn kesmacap_proc(std::uint16_t ordinal) {
    switch (ordinal) {
        case KESMACAP_OPEN_CHANNEL:
            return generic(&openChannel);
        case KESMACAP_STOP_CHANNEL:
            return generic(&stopChannel);
        case KESMACAP_SET_CHANNEL_FLAG:
            return generic(&setChannelFlag);
        case KESMACAP_CLOSE_CHANNEL:
            return generic(&closeChannel);
        case KESMACAP_GET_CHANNEL_EVENT:
            return generic(&getChannelEvent);
        case KESMACAP_SET_CHANNEL_PIXEL_BYTES:
            return generic(&setChannelPixelBytes);
        case KESMACAP_SET_CHANNEL_MODE:
            return generic(&setChannelMode);
        case KESMACAP_GET_CHANNEL_FRAME:
            return generic(&getChannelFrame);
        case KESMACAP_START_CHANNEL:
            return generic(&startChannel);
        case KESMACAP_QUERY_CHANNEL_STATE:
            return generic(&queryChannelState);
        case KESMACAP_SAVE_CHANNEL_PICTURE:
            return generic(&saveChannelPicture);
        default:
            return nullptr;
    }
}
