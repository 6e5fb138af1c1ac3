#include "kesmacap/card/CardExports.h"

#include "kesmacap/card/Card.h"

using kesmacap::TheCard;

std::int32_t KESMACAP_CALL OpenChannel(std::uint16_t channel) {
    return TheCard().OpenChannel(channel);
}
std::int32_t KESMACAP_CALL StopChannel(std::uint16_t channel) {
    return TheCard().StopChannel(channel);
}
std::int32_t KESMACAP_CALL SetChannelFlag(std::uint16_t channel, std::int32_t value) {
    return TheCard().SetChannelFlag(channel, value);
}
std::int32_t KESMACAP_CALL CloseChannel(std::uint16_t channel) {
    return TheCard().CloseChannel(channel);
}
std::int32_t KESMACAP_CALL GetChannelEvent(std::uint16_t channel, kesmacap_event* event) {
    return TheCard().GetChannelEvent(channel, event);
}
std::int32_t KESMACAP_CALL SetChannelPixelBytes(std::uint16_t channel, std::uint8_t bytes) {
    return TheCard().SetChannelPixelBytes(channel, bytes);
}
std::int32_t KESMACAP_CALL SetChannelMode(std::uint16_t channel, std::uint8_t mode) {
    return TheCard().SetChannelMode(channel, mode);
}
std::int32_t KESMACAP_CALL GetChannelFrame(std::uint16_t channel, std::uint8_t** pixels, std::int32_t* width,
                                           std::int32_t* height, std::int32_t* sequence) {
    return TheCard().GetChannelFrame(channel, pixels, width, height, sequence);
}
std::int32_t KESMACAP_CALL StartChannel(std::uint16_t channel, std::int32_t value) {
    return TheCard().StartChannel(channel, value);
}
std::int32_t KESMACAP_CALL QueryChannelState(std::uint16_t channel, std::int32_t* state) {
    return TheCard().QueryChannelState(channel, state);
}
std::int32_t KESMACAP_CALL SaveChannelPicture(std::uint16_t channel, const char* path, std::uint8_t format,
                                              std::int32_t value) {
    return TheCard().SaveChannelPicture(channel, path, format, value);
}
