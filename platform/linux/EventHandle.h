#pragma once

#include <cstdint>

#include "platform/Win32.h"

// On Linux an event HANDLE carries the eventfd descriptor the capture library
// hands out, one above it, so that descriptor 0 is a handle like any other and
// a null HANDLE (a record not yet filled) stands for no descriptor at all.
inline HANDLE EventHandleFromDescriptor(int descriptor) {
    return reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(descriptor) + 1);
}

// -1 for a null HANDLE; below that for what was never a descriptor.
inline int DescriptorFromEventHandle(HANDLE event) {
    return static_cast<int>(reinterpret_cast<std::intptr_t>(event) - 1);
}
