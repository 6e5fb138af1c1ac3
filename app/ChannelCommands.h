// What the frame window does with the channels, the same in both shells.
#pragma once

#include "capture/CaptureLibrary.h"

// FormCreate: opens channels 0-3 in order; capture mode 0.
void OpenChannels(const CaptureLibrary& capture);
// The first half of "離開程式": closes channels 0-3 in order.
void CloseChannels(const CaptureLibrary& capture);
// FormDestroy: stops, flags 0 and closes each channel in order, then
// releases the live view (its worker is stopped first).
void ShutDownChannels(const CaptureLibrary& capture);
