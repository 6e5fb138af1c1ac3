#include <algorithm>
#include <cstring>

#include "liveview/LiveView.h"

namespace {

// A wait that fails returns at once; pausing keeps a lasting failure from spinning a core.
constexpr DWORD FailedWaitPauseMs = 10;

}  // namespace

void ShowFrame(const CaptureLibrary& capture, ChannelIndex channel) {
    std::int32_t state = 0;
    capture.QueryChannelState(channel, &state);
    BYTE* source = nullptr;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::int32_t sequence = 0;
    capture.GetChannelFrame(channel, &source, &width, &height, &sequence);
    CopyFrameRows(source, width, height, LiveView.CopyTarget, LiveView.FrameWidth, LiveView.FrameHeight,
                  LiveView.BytesPerPixel);
    // Always the whole staging area, whatever the frame's size: the rest shows
    // what earlier frames left there.
    BitBlt(LiveView.WindowDC[channel], 0, 0, LiveView.FrameWidth, LiveView.FrameHeight, LiveView.OffscreenDC,
           0, 0, SRCCOPY);
    // Reset only after drawing: a signal that came during the copy is cleared too.
    ResetEvent(LiveView.FrameEvents[channel]);
}

void CopyFrameRows(const BYTE* source, std::int32_t width, std::int32_t height, BYTE* target,
                   std::int32_t targetWidth, std::int32_t targetHeight, std::int32_t bytesPerPixel) {
    if (source == nullptr || target == nullptr || width <= 0 || height <= 0 || bytesPerPixel <= 0) {
        return;
    }
    const std::size_t sourceStride = static_cast<std::size_t>(width) * bytesPerPixel;
    const std::size_t targetStride = static_cast<std::size_t>(targetWidth) * bytesPerPixel;
    const std::size_t rowBytes = static_cast<std::size_t>(std::min(width, targetWidth)) * bytesPerPixel;
    const std::int32_t rows = std::min(height, targetHeight);
    for (std::int32_t row = 0; row < rows; ++row) {
        std::memcpy(target + row * targetStride, source + row * sourceStride, rowBytes);
    }
}

DWORD WINAPI FrameWorker(LPVOID capture) {
    const auto& library = *static_cast<const CaptureLibrary*>(capture);
    while (LiveView.Running.load() != 0) {
        const DWORD woken =
            WaitForMultipleObjects(ChannelCount, LiveView.FrameEvents.data(), FALSE, INFINITE);
        const DWORD channel = woken - WAIT_OBJECT_0;
        if (channel >= ChannelCount) {
            // No channel has that number: nothing to draw, fetch or reset.
            Sleep(FailedWaitPauseMs);
            continue;
        }
        ShowFrame(library, static_cast<ChannelIndex>(channel));
    }
    return 0;
}
