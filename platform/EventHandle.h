#pragma once

#include <cstdint>

#include "platform/Win32.h"

// On Linux an event HANDLE carries the eventfd descriptor the capture library
// hands out; -1, no descriptor, maps to Win32's INVALID_HANDLE_VALUE.
inline HANDLE EventHandleFromDescriptor(int descriptor) {
    return reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(descriptor));
}

inline int DescriptorFromEventHandle(HANDLE event) {
    return static_cast<int>(reinterpret_cast<std::intptr_t>(event));
}
