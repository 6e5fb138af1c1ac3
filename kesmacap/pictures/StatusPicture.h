#pragma once

#include <cstdint>
#include <string_view>

namespace kesmacap {

// A library's own picture for a channel without video, in the manner of a
// capture card's "no video" screen: the camera's name, what is wrong, and the
// source (already masked), in any script. Drawn into 640 x 480 packed B, G, R.
// Any thread may draw, one picture at a time.
void DrawStatusPicture(std::uint8_t* pixels, int channel, std::string_view reason, std::string_view source);

}  // namespace kesmacap
