// The library's one exported symbol: the capture ABI's operations by ordinal.
#include "capture/kesmacap.h"
#include "kesmacap/Card.h"
#include "kesmacap/OrdinalTable.h"

namespace {

using kesmacap::TheCard;

struct CardOperations {
    static std::int32_t OpenChannel(std::uint16_t channel) { return TheCard().OpenChannel(channel); }
    static std::int32_t StopChannel(std::uint16_t channel) { return TheCard().StopChannel(channel); }
    static std::int32_t SetChannelFlag(std::uint16_t channel, std::int32_t value) {
        return TheCard().SetChannelFlag(channel, value);
    }
    static std::int32_t CloseChannel(std::uint16_t channel) { return TheCard().CloseChannel(channel); }
    static std::int32_t GetChannelEvent(std::uint16_t channel, int* event) {
        return TheCard().GetChannelEvent(channel, event);
    }
    static std::int32_t SetChannelPixelBytes(std::uint16_t channel, std::uint8_t bytes) {
        return TheCard().SetChannelPixelBytes(channel, bytes);
    }
    static std::int32_t SetChannelMode(std::uint16_t channel, std::uint8_t mode) {
        return TheCard().SetChannelMode(channel, mode);
    }
    static std::int32_t GetChannelFrame(std::uint16_t channel, std::uint8_t** pixels, std::int32_t* width,
                                        std::int32_t* height, std::int32_t* sequence) {
        return TheCard().GetChannelFrame(channel, pixels, width, height, sequence);
    }
    static std::int32_t StartChannel(std::uint16_t channel, std::int32_t value) {
        return TheCard().StartChannel(channel, value);
    }
    static std::int32_t QueryChannelState(std::uint16_t channel, std::int32_t* state) {
        return TheCard().QueryChannelState(channel, state);
    }
    static std::int32_t SaveChannelPicture(std::uint16_t channel, const char* path, std::uint8_t format,
                                           std::int32_t value) {
        return TheCard().SaveChannelPicture(channel, path, format, value);
    }
};

}  // namespace

extern "C" __attribute__((visibility("default"))) kesmacap_fn kesmacap_proc(std::uint16_t ordinal) {
    return kesmacap::LookupOrdinal<CardOperations>(ordinal);
}
