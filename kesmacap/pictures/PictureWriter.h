#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "kesmacap/pictures/Picture.h"

namespace kesmacap {

// Characters that end a folder's name in a path ("/"; on Windows also "\\").
extern const std::string_view PathSeparators;

// The library's path argument as the file name the functions below take:
// Linux keeps the bytes; Windows converts from the ANSI code page to UTF-8
// and refuses bytes that are no text there with EINVAL.
std::int32_t FileNameFromLibraryPath(std::string_view path, std::string& name);

// The file for channel `channel` (0-3) of a save under `path`: the channel
// number goes before the extension ("photo.bmp" gives "photo-1.bmp"); a name
// without an extension gets the format's own.
std::string ChannelPicturePath(std::string_view path, int channel, std::uint8_t format);

// A name for the temporary file beside `file` that a save writes first:
// in the same folder, short whatever the file's name, unique per call.
std::string TemporaryNameFor(std::string_view file, unsigned long processId);

// Whether the encoders take this picture: pixels, and a size from 1 to 65535.
bool EncodablePicture(const PictureView& picture);

// Encodes a picture in the capture ABI's format codes. Each returns 0 or an errno value.
// BMP is our own writer; JPEG and PNG are the platform's (libjpeg-turbo and
// libpng on Linux, the Windows Imaging Component on Windows).
std::int32_t EncodeBmp(const PictureView& picture, std::vector<std::uint8_t>& out);
std::int32_t EncodeJpeg(const PictureView& picture, int quality, std::vector<std::uint8_t>& out);
std::int32_t EncodePng(const PictureView& picture, std::vector<std::uint8_t>& out);

// Replaces `file` with `bytes` atomically: written to a temporary name in the
// same folder, flushed, then renamed, so a failure leaves no partial file and
// an existing file whole. Returns 0 or the errno of the failure.
std::int32_t WriteFileAtomically(const std::string& file, const std::vector<std::uint8_t>& bytes);

// The whole save of one channel's picture: EINVAL for an unknown format.
std::int32_t SavePicture(const PictureView& picture, std::string_view path, int channel, std::uint8_t format,
                         std::int32_t value);

}  // namespace kesmacap
