#include "capture/CaptureLibrary.h"

#include <cerrno>
#include <type_traits>

#include "capture/CallOperation.h"
#include "platform/linux/EventHandle.h"

namespace {

// The library's event value as the platform's event HANDLE: a Win32 event is
// one already, an eventfd descriptor is carried inside one.
[[maybe_unused]] HANDLE toEventHandle(void* event) {
    return static_cast<HANDLE>(event);
}
[[maybe_unused]] HANDLE toEventHandle(int descriptor) {
    return EventHandleFromDescriptor(descriptor);
}

// No handle, or descriptor -1: what the viewer holds when the library gives none.
template <typename Event>
constexpr Event noEvent() {
    if constexpr (std::is_pointer_v<Event>) {
        return nullptr;
    } else {
        return -1;
    }
}

template <typename Function>
Function resolve(const std::function<kesmacap_fn(std::uint16_t)>& lookup, std::uint16_t ordinal,
                 const char* operation, const std::string& source) {
    const kesmacap_fn proc = lookup(ordinal);
    if (proc == nullptr) {
        throw CaptureLibraryError(source + " has no operation with ordinal " + std::to_string(ordinal) +
                                  " (" + operation + ")");
    }
    // The ABI hands every operation out under one generic pointer type.
    return reinterpret_cast<Function>(proc);
}

}  // namespace

CaptureLibrary CaptureLibrary::bind(ProcLookup lookup, const std::string& source) {
    if (lookup == nullptr) {
        throw CaptureLibraryError(source + " has no lookup of operations");
    }
    return bindOperations(lookup, source, true);
}

CaptureLibrary CaptureLibrary::bindOperations(const Lookup& lookup, const std::string& source,
                                              bool errnoResults) {
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
    return CaptureLibrary(operations, errnoResults);
}

std::int32_t CaptureLibrary::OpenChannel(ChannelIndex channel) const {
    return result(CallOperation(ops_.openChannel, channel));
}

std::int32_t CaptureLibrary::StopChannel(ChannelIndex channel) const {
    return result(CallOperation(ops_.stopChannel, channel));
}

std::int32_t CaptureLibrary::SetChannelFlag(ChannelIndex channel, std::int32_t value) const {
    return result(CallOperation(ops_.setChannelFlag, channel, value));
}

std::int32_t CaptureLibrary::CloseChannel(ChannelIndex channel) const {
    return result(CallOperation(ops_.closeChannel, channel));
}

std::int32_t CaptureLibrary::GetChannelEvent(ChannelIndex channel, HANDLE* event) const {
    if (event == nullptr) {
        return EINVAL;
    }
    kesmacap_event value = noEvent<kesmacap_event>();
    const std::int32_t outcome = result(CallOperation(ops_.getChannelEvent, channel, &value));
    if (outcome == 0) {
        *event = toEventHandle(value);
    }
    return outcome;
}

std::int32_t CaptureLibrary::SetChannelPixelBytes(ChannelIndex channel, std::uint8_t bytes) const {
    return result(CallOperation(ops_.setChannelPixelBytes, channel, bytes));
}

std::int32_t CaptureLibrary::SetChannelMode(ChannelIndex channel, std::uint8_t mode) const {
    return result(CallOperation(ops_.setChannelMode, channel, mode));
}

std::int32_t CaptureLibrary::GetChannelFrame(ChannelIndex channel, BYTE** pixels, std::int32_t* width,
                                             std::int32_t* height, std::int32_t* sequence) const {
    return result(CallOperation(ops_.getChannelFrame, channel, pixels, width, height, sequence));
}

std::int32_t CaptureLibrary::StartChannel(ChannelIndex channel, std::int32_t value) const {
    return result(CallOperation(ops_.startChannel, channel, value));
}

std::int32_t CaptureLibrary::QueryChannelState(ChannelIndex channel, std::int32_t* state) const {
    return result(CallOperation(ops_.queryChannelState, channel, state));
}

std::int32_t CaptureLibrary::SaveChannelPicture(ChannelIndex channel, const char* path, std::uint8_t format,
                                                std::int32_t value) const {
    return result(CallOperation(ops_.saveChannelPicture, channel, path, format, value));
}
