#include "capture/CaptureLibrary.h"

#include <cerrno>

#include "platform/EventHandle.h"

namespace {

template <typename Function>
Function resolve(CaptureLibrary::ProcLookup lookup, std::uint16_t ordinal, const char* operation,
                 const std::string& source) {
    const kesmacap_fn proc = lookup(ordinal);
    if (proc == nullptr) {
        throw CaptureLibraryError(source + " has no operation with ordinal " + std::to_string(ordinal) +
                                  " (" + operation + ")");
    }
    // The ABI hands every operation out under one generic pointer type.
    return reinterpret_cast<Function>(proc);
}

}  // namespace

CaptureLibrary CaptureLibrary::bind(ProcLookup lookup) {
    return bindModule(nullptr, lookup, "the capture table");
}

CaptureLibrary CaptureLibrary::bindModule(std::shared_ptr<void> module, ProcLookup lookup,
                                          const std::string& source) {
    if (lookup == nullptr) {
        throw CaptureLibraryError(source + " does not export kesmacap_proc");
    }
    const Operations operations{
        resolve<kesmacap_open_channel_fn>(lookup, KESMACAP_OPEN_CHANNEL, "OpenChannel", source),
        resolve<kesmacap_stop_channel_fn>(lookup, KESMACAP_STOP_CHANNEL, "StopChannel", source),
        resolve<kesmacap_set_channel_flag_fn>(lookup, KESMACAP_SET_CHANNEL_FLAG, "SetChannelFlag", source),
        resolve<kesmacap_close_channel_fn>(lookup, KESMACAP_CLOSE_CHANNEL, "CloseChannel", source),
        resolve<kesmacap_get_channel_event_fn>(lookup, KESMACAP_GET_CHANNEL_EVENT, "GetChannelEvent", source),
        resolve<kesmacap_set_channel_pixel_bytes_fn>(lookup, KESMACAP_SET_CHANNEL_PIXEL_BYTES,
                                                     "SetChannelPixelBytes", source),
        resolve<kesmacap_set_channel_mode_fn>(lookup, KESMACAP_SET_CHANNEL_MODE, "SetChannelMode", source),
        resolve<kesmacap_get_channel_frame_fn>(lookup, KESMACAP_GET_CHANNEL_FRAME, "GetChannelFrame", source),
        resolve<kesmacap_start_channel_fn>(lookup, KESMACAP_START_CHANNEL, "StartChannel", source),
        resolve<kesmacap_query_channel_state_fn>(lookup, KESMACAP_QUERY_CHANNEL_STATE, "QueryChannelState",
                                                 source),
        resolve<kesmacap_save_channel_picture_fn>(lookup, KESMACAP_SAVE_CHANNEL_PICTURE, "SaveChannelPicture",
                                                  source),
    };
    return CaptureLibrary(std::move(module), operations);
}

std::int32_t CaptureLibrary::OpenChannel(ChannelIndex channel) const {
    return ops_.openChannel(channel);
}

std::int32_t CaptureLibrary::StopChannel(ChannelIndex channel) const {
    return ops_.stopChannel(channel);
}

std::int32_t CaptureLibrary::SetChannelFlag(ChannelIndex channel, std::int32_t value) const {
    return ops_.setChannelFlag(channel, value);
}

std::int32_t CaptureLibrary::CloseChannel(ChannelIndex channel) const {
    return ops_.closeChannel(channel);
}

std::int32_t CaptureLibrary::GetChannelEvent(ChannelIndex channel, HANDLE* event) const {
    if (event == nullptr) {
        return EINVAL;
    }
    int descriptor = -1;
    const std::int32_t result = ops_.getChannelEvent(channel, &descriptor);
    if (result == 0) {
        *event = EventHandleFromDescriptor(descriptor);
    }
    return result;
}

std::int32_t CaptureLibrary::SetChannelPixelBytes(ChannelIndex channel, std::uint8_t bytes) const {
    return ops_.setChannelPixelBytes(channel, bytes);
}

std::int32_t CaptureLibrary::SetChannelMode(ChannelIndex channel, std::uint8_t mode) const {
    return ops_.setChannelMode(channel, mode);
}

std::int32_t CaptureLibrary::GetChannelFrame(ChannelIndex channel, BYTE** pixels, std::int32_t* width,
                                             std::int32_t* height, std::int32_t* sequence) const {
    return ops_.getChannelFrame(channel, pixels, width, height, sequence);
}

std::int32_t CaptureLibrary::StartChannel(ChannelIndex channel, std::int32_t value) const {
    return ops_.startChannel(channel, value);
}

std::int32_t CaptureLibrary::QueryChannelState(ChannelIndex channel, std::int32_t* state) const {
    return ops_.queryChannelState(channel, state);
}

std::int32_t CaptureLibrary::SaveChannelPicture(ChannelIndex channel, const char* path, std::uint8_t format,
                                                std::int32_t value) const {
    return ops_.saveChannelPicture(channel, path, format, value);
}
