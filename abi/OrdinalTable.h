#pragma once

#include <cstdint>

#include "abi/kesmacap.h"

namespace kesmacap {

// The lookup a capture library exports: each ordinal of the ABI to the static
// function of Operations with the operation's name. Converting through the
// ABI's typedefs makes a function with the wrong signature fail to compile.
template <typename Operations>
kesmacap_fn LookupOrdinal(std::uint16_t ordinal) {
    const auto as = [](auto function) { return reinterpret_cast<kesmacap_fn>(function); };
    switch (ordinal) {
        case KESMACAP_OPEN_CHANNEL:
            return as(kesmacap_open_channel_fn{Operations::OpenChannel});
        case KESMACAP_STOP_CHANNEL:
            return as(kesmacap_stop_channel_fn{Operations::StopChannel});
        case KESMACAP_SET_CHANNEL_FLAG:
            return as(kesmacap_set_channel_flag_fn{Operations::SetChannelFlag});
        case KESMACAP_CLOSE_CHANNEL:
            return as(kesmacap_close_channel_fn{Operations::CloseChannel});
        case KESMACAP_GET_CHANNEL_EVENT:
            return as(kesmacap_get_channel_event_fn{Operations::GetChannelEvent});
        case KESMACAP_SET_CHANNEL_PIXEL_BYTES:
            return as(kesmacap_set_channel_pixel_bytes_fn{Operations::SetChannelPixelBytes});
        case KESMACAP_SET_CHANNEL_MODE:
            return as(kesmacap_set_channel_mode_fn{Operations::SetChannelMode});
        case KESMACAP_GET_CHANNEL_FRAME:
            return as(kesmacap_get_channel_frame_fn{Operations::GetChannelFrame});
        case KESMACAP_START_CHANNEL:
            return as(kesmacap_start_channel_fn{Operations::StartChannel});
        case KESMACAP_QUERY_CHANNEL_STATE:
            return as(kesmacap_query_channel_state_fn{Operations::QueryChannelState});
        case KESMACAP_SAVE_CHANNEL_PICTURE:
            return as(kesmacap_save_channel_picture_fn{Operations::SaveChannelPicture});
        default:
            return nullptr;
    }
}

}  // namespace kesmacap
