#pragma once

#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>

#include "abi/kesmacap.h"
#include "capture/ChannelIndex.h"
#include "platform/Win32.h"

// The capture library could not be loaded or lacks an operation. The message
// names the file, or the ordinal and its operation.
class CaptureLibraryError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// The capture library's operations, bound by ordinal, under their names.
// A loaded library is never unloaded: its own threads may run until the
// process ends. Results are 0 or an errno value from a library that says its
// results mean that; from any other library every result reads as 0.
class CaptureLibrary {
  public:
    using ProcLookup = kesmacap_fn (*)(std::uint16_t ordinal);

    // libkesmacap.so on Linux, kesmacap.dll on Windows.
    static const char* const FileName;

    // Loads the library beside the running executable, else from the system's
    // library path (Windows: the system directory); never from the current
    // directory or PATH.
    static CaptureLibrary load();
    // The same search with programDirectory in place of the executable's.
    static CaptureLibrary load(const std::filesystem::path& programDirectory);
    // Loads the library from exactly this file.
    static CaptureLibrary loadFile(const std::filesystem::path& file);
    // Binds an in-process table, as a loaded library's kesmacap_proc would give it.
    static CaptureLibrary bind(ProcLookup lookup, const std::string& source = "the capture table");

    // False for a library that does not declare errno results (a vendor's own DLL).
    bool reportsErrors() const { return errnoResults_; }

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

    using Lookup = std::function<kesmacap_fn(std::uint16_t ordinal)>;

    CaptureLibrary(const Operations& operations, bool errnoResults)
        : ops_(operations), errnoResults_(errnoResults) {}
    static CaptureLibrary bindOperations(const Lookup& lookup, const std::string& source, bool errnoResults);
    std::int32_t result(std::int32_t raw) const { return errnoResults_ ? raw : 0; }

    Operations ops_;
    bool errnoResults_;
};
