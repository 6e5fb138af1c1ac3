// Text and rectangles drawn into packed 24-bit B, G, R pictures: what a
// capture library draws itself (a test card, a no-signal screen).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace kesmacap {

// Writes text with a 5 x 7 bitmap font of capitals, digits and common
// punctuation, each font pixel a scale x scale block; small letters show as
// capitals, characters the font lacks are blank. Clipped to the picture.
void DrawText(std::uint8_t* pixels, int width, int height, int x, int y, int scale, std::string_view text,
              std::uint32_t rgb);
// The width DrawText gives a text of that many characters.
int TextWidth(std::size_t characters, int scale);
// Fills a rectangle, clipped to the picture. Colours are 0xRRGGBB.
void FillRect(std::uint8_t* pixels, int width, int height, int x, int y, int rectWidth, int rectHeight,
              std::uint32_t rgb);

}  // namespace kesmacap
