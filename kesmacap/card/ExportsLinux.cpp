// The library's one exported symbol on Linux: the operations by ordinal.
#include "abi/OrdinalTable.h"
#include "abi/kesmacap.h"
#include "kesmacap/card/CardExports.h"

namespace {

struct CardOperations {
    static constexpr auto OpenChannel = &::OpenChannel;
    static constexpr auto StopChannel = &::StopChannel;
    static constexpr auto SetChannelFlag = &::SetChannelFlag;
    static constexpr auto CloseChannel = &::CloseChannel;
    static constexpr auto GetChannelEvent = &::GetChannelEvent;
    static constexpr auto SetChannelPixelBytes = &::SetChannelPixelBytes;
    static constexpr auto SetChannelMode = &::SetChannelMode;
    static constexpr auto GetChannelFrame = &::GetChannelFrame;
    static constexpr auto StartChannel = &::StartChannel;
    static constexpr auto QueryChannelState = &::QueryChannelState;
    static constexpr auto SaveChannelPicture = &::SaveChannelPicture;
};

}  // namespace

extern "C" __attribute__((visibility("default"))) kesmacap_fn kesmacap_proc(std::uint16_t ordinal) {
    return kesmacap::LookupOrdinal<CardOperations>(ordinal);
}
