#pragma once

#include <cstdint>

using ChannelIndex = std::uint16_t;
constexpr ChannelIndex ChannelCount = 4;
