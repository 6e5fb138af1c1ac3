#pragma once

#include <array>
#include <atomic>
#include <cstdint>

#include "capture/CaptureLibrary.h"
#include "capture/ChannelIndex.h"
#include "platform/Win32.h"

// The camera windows' handles, indexed by channel: window Camera(n+1) shows channel n.
using CameraWindows = std::array<HWND, ChannelCount>;

// The one process-wide live-view record. The GUI thread writes it only while no
// worker runs; the worker reads it. Running is the worker's loop condition.
struct LiveViewRecord {
    BYTE* Pixels = nullptr;             // pixel memory of OffscreenBitmap
    HBITMAP OffscreenBitmap = nullptr;  // the 640 x 480 x 24-bit staging bitmap
    HDC OffscreenDC = nullptr;          // memory context holding OffscreenBitmap
    std::array<HDC, ChannelCount> WindowDC{};
    std::atomic<std::uint8_t> Running{0};
    HANDLE Worker = nullptr;
    std::array<HANDLE, ChannelCount> FrameEvents{};
    BITMAPINFOHEADER StagingInfo{};
    std::int32_t FrameWidth = 0;
    std::int32_t FrameHeight = 0;
    std::int32_t BytesPerPixel = 0;
    std::uint16_t CaptureMode = 0;
    BYTE* CopyTarget = nullptr;  // where the worker copies frames: the staging pixels once handed over
    CameraWindows Windows{};     // whose contexts WindowDC holds, to give them back
};

extern LiveViewRecord LiveView;

// Starts, or restarts, live display of all four channels. The capture library
// must outlive the live view: ReleaseLiveView runs before it goes.
void StartLiveView(const CaptureLibrary& capture, const CameraWindows& windows);

// Stops the worker and releases everything the last start obtained.
void ReleaseLiveView();

// The worker thread: carries each signalled frame through the staging bitmap
// into its channel's window. Its parameter is the const CaptureLibrary*.
DWORD WINAPI FrameWorker(LPVOID capture);

// The worker's pass for a signalled channel: its frame through the staging
// bitmap into its window, then its event reset.
void ShowFrame(const CaptureLibrary& capture, ChannelIndex channel);

// Copies a packed frame (rows width * bytesPerPixel apart) into the top-left of
// a staging bitmap with rows targetWidth * bytesPerPixel apart, clipped to the
// target. A null source or a size below 1 copies nothing.
void CopyFrameRows(const BYTE* source, std::int32_t width, std::int32_t height, BYTE* target,
                   std::int32_t targetWidth, std::int32_t targetHeight, std::int32_t bytesPerPixel);
