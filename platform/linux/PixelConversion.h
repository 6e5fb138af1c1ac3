#pragma once

#include <cstdint>

// Converts one row of 24-bit B, G, R pixels to the displays' 32-bit B, G, R, X
// layout (X is 0xFF), with SSSE3 where the processor has it.
void ConvertBgrRowToXrgb(const std::uint8_t* source, std::uint32_t* destination, int pixels);
