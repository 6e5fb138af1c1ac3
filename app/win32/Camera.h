#pragma once

#include <windows.h>

#include "capture/ChannelIndex.h"

// TCamera1 ... TCamera4: MDI children without controls of their own; the
// live view draws straight into their client areas. Their close box
// minimises them.
void RegisterCameraClasses(HINSTANCE instance);
// Creates Camera(channel + 1) in the MDI client, where the system places it.
HWND CreateCamera(HWND mdiClient, HINSTANCE instance, ChannelIndex channel);
