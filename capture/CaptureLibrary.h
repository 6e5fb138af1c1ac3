#pragma once

#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>

#include "capture/Channel.h"
#include "capture/kesmacap.h"
#include "platform/Win32.h"

// The capture library could not be loaded or lacks an operation. The message
// names the file, or the ordinal and its operation.
class CaptureLibraryError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// The capture library's operations, bound by ordinal, under their names.
// Copies share the loaded library, which stays loaded while any copy lives.
// Results are passed through: 0 or an errno value.
class CaptureLibrary {
  public:
    using ProcLookup = kesmacap_fn (*)(std::uint16_t ordinal);

    static constexpr const char* FileName = "libkesmacap.so";

    // Loads the library beside the running executable, else from the system's
    // library path; never from the current directory.
    static CaptureLibrary load();
    // Loads the library from exactly this file.
    static CaptureLibrary loadFile(const std::filesystem::path& file);
    // Binds an in-process table, as a loaded library's kesmacap_proc would give it.
    static CaptureLibrary bind(ProcLookup lookup);

    std::int32_t OpenChannel(ChannelIndex channel) const;
    std::int32_t StopChannel(ChannelIndex channel) const;
    std::int32_t SetChannelFlag(ChannelIndex channel, std::int32_t value) const;
    std::int32_t CloseChannel(ChannelIndex channel) const;
    // Leaves *event untouched when the library fails.
    std::int32_t GetChannelEvent(ChannelIndex channel, HANDLE* event) const;
    std::int32_t SetChannelPixelBytes(ChannelIndex channel, std::uint8_t bytes) const;
    std::int32_t SetChannelMode(ChannelIndex channel, std::uint8_t mode) const;
    std::int32_t GetChannelFrame(ChannelIndex channel, BYTE** pixels, std::int32_t* width,
                                 std::int32_t* height, std::int32_t* sequence) const;
    std::int32_t StartChannel(ChannelIndex channel, std::int32_t value) const;
    std::int32_t QueryChannelState(ChannelIndex channel, std::int32_t* state) const;
    std::int32_t SaveChannelPicture(ChannelIndex channel, const char* path, std::uint8_t format,
                                    std::int32_t value) const;

  private:
    struct Operations {
        kesmacap_open_channel_fn openChannel;
        kesmacap_stop_channel_fn stopChannel;
        kesmacap_set_channel_flag_fn setChannelFlag;
        kesmacap_close_channel_fn closeChannel;
        kesmacap_get_channel_event_fn getChannelEvent;
        kesmacap_set_channel_pixel_bytes_fn setChannelPixelBytes;
        kesmacap_set_channel_mode_fn setChannelMode;
        kesmacap_get_channel_frame_fn getChannelFrame;
        kesmacap_start_channel_fn startChannel;
        kesmacap_query_channel_state_fn queryChannelState;
        kesmacap_save_channel_picture_fn saveChannelPicture;
    };

    CaptureLibrary(std::shared_ptr<void> module, const Operations& operations)
        : module_(std::move(module)), ops_(operations) {}
    static CaptureLibrary bindLoaded(void* handle, const std::string& source);
    static CaptureLibrary bindModule(std::shared_ptr<void> module, ProcLookup lookup,
                                     const std::string& source);

    std::shared_ptr<void> module_;
    Operations ops_;
};
