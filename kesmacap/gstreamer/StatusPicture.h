#pragma once

#include <cstdint>
#include <string>

namespace kesmacap {

// The library's own picture for a channel without video, in the manner of a
// capture card's "no video" screen: the camera's name, what is wrong, and the
// source (already masked). Drawn into 640 x 480 packed B, G, R.
void DrawStatusPicture(std::uint8_t* pixels, int channel, const std::string& reason,
                       const std::string& source);

}  // namespace kesmacap
