// The capture ABI's eleven operations over the process's card, as C
// functions. KESMACAP_CALL is their calling convention: the C one unless the
// build chooses another (a __stdcall kesmacap.dll, to prove the viewer works
// with either).
#pragma once

#include <cstdint>

#include "abi/kesmacap.h"

#ifndef KESMACAP_CALL
#define KESMACAP_CALL
#endif

extern "C" {
std::int32_t KESMACAP_CALL OpenChannel(std::uint16_t channel);
std::int32_t KESMACAP_CALL StopChannel(std::uint16_t channel);
std::int32_t KESMACAP_CALL SetChannelFlag(std::uint16_t channel, std::int32_t value);
std::int32_t KESMACAP_CALL CloseChannel(std::uint16_t channel);
std::int32_t KESMACAP_CALL GetChannelEvent(std::uint16_t channel, kesmacap_event* event);
std::int32_t KESMACAP_CALL SetChannelPixelBytes(std::uint16_t channel, std::uint8_t bytes);
std::int32_t KESMACAP_CALL SetChannelMode(std::uint16_t channel, std::uint8_t mode);
std::int32_t KESMACAP_CALL GetChannelFrame(std::uint16_t channel, std::uint8_t** pixels, std::int32_t* width,
                                           std::int32_t* height, std::int32_t* sequence);
std::int32_t KESMACAP_CALL StartChannel(std::uint16_t channel, std::int32_t value);
std::int32_t KESMACAP_CALL QueryChannelState(std::uint16_t channel, std::int32_t* state);
std::int32_t KESMACAP_CALL SaveChannelPicture(std::uint16_t channel, const char* path, std::uint8_t format,
                                              std::int32_t value);
}
