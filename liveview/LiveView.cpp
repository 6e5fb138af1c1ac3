#include "liveview/LiveView.h"

#include <cstring>

LiveViewRecord LiveView;

namespace {

constexpr std::int32_t ModeZeroWidth = 640;
constexpr std::int32_t ModeZeroHeight = 480;
constexpr std::int32_t StagingBytesPerPixel = 3;
constexpr std::int32_t StartAllFrames = -1;
constexpr DWORD GracePeriodMs = 10;

// Asks the worker to leave and waits until it has: it may be drawing, and what
// it draws into is released next.
void stopWorker() {
    if (LiveView.Worker == nullptr) {
        return;
    }
    LiveView.Running.store(0);
    SetEvent(LiveView.FrameEvents[0]);
    Sleep(GracePeriodMs);
    WaitForSingleObject(LiveView.Worker, INFINITE);
    CloseHandle(LiveView.Worker);
    LiveView.Worker = nullptr;
}

// Only with no worker running.
void releaseDrawingObjects() {
    // The context goes first: a bitmap still selected into one cannot be deleted.
    if (LiveView.OffscreenDC != nullptr) {
        DeleteDC(LiveView.OffscreenDC);
        LiveView.OffscreenDC = nullptr;
    }
    if (LiveView.OffscreenBitmap != nullptr) {
        DeleteObject(LiveView.OffscreenBitmap);
        LiveView.OffscreenBitmap = nullptr;
    }
    LiveView.Pixels = nullptr;
    LiveView.CopyTarget = nullptr;
    for (ChannelIndex channel = 0; channel < ChannelCount; ++channel) {
        if (LiveView.WindowDC[channel] != nullptr) {
            ReleaseDC(LiveView.Windows[channel], LiveView.WindowDC[channel]);
            LiveView.WindowDC[channel] = nullptr;
        }
    }
}

void fillStagingInfo() {
    LiveView.StagingInfo = BITMAPINFOHEADER{};
    LiveView.StagingInfo.biSize = sizeof(BITMAPINFOHEADER);
    LiveView.StagingInfo.biWidth = LiveView.FrameWidth;
    LiveView.StagingInfo.biHeight = -LiveView.FrameHeight;  // negative: row 0 is the top row
    LiveView.StagingInfo.biPlanes = 1;
    LiveView.StagingInfo.biBitCount = static_cast<WORD>(LiveView.BytesPerPixel * 8);
    LiveView.StagingInfo.biCompression = BI_RGB;
}

void createStagingBitmap() {
    BITMAPINFO info{};
    info.bmiHeader = LiveView.StagingInfo;
    void* bits = nullptr;
    LiveView.OffscreenBitmap =
        CreateDIBSection(LiveView.OffscreenDC, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    LiveView.Pixels = static_cast<BYTE*>(bits);
    if (LiveView.OffscreenBitmap != nullptr) {
        SelectObject(LiveView.OffscreenDC, LiveView.OffscreenBitmap);
    }
}

}  // namespace

void StartLiveView(const CaptureLibrary& capture, const CameraWindows& windows) {
    LiveView.CaptureMode = 0;
    for (ChannelIndex channel = 0; channel < ChannelCount; ++channel) {
        capture.StopChannel(channel);
        capture.SetChannelFlag(channel, 0);
    }
    stopWorker();
    releaseDrawingObjects();
    LiveView.Running.store(1);
    for (ChannelIndex channel = 0; channel < ChannelCount; ++channel) {
        capture.GetChannelEvent(channel, &LiveView.FrameEvents[channel]);
    }
    // Mode 0, the only mode, is 640 x 480.
    LiveView.FrameWidth = ModeZeroWidth;
    LiveView.FrameHeight = ModeZeroHeight;
    LiveView.BytesPerPixel = StagingBytesPerPixel;
    fillStagingInfo();
    LiveView.Windows = windows;
    for (ChannelIndex channel = 0; channel < ChannelCount; ++channel) {
        LiveView.WindowDC[channel] = GetDC(windows[channel]);
    }
    LiveView.OffscreenDC = CreateCompatibleDC(LiveView.WindowDC[0]);
    createStagingBitmap();
    // Without pixel memory there is nothing to copy into or draw from: no worker.
    if (LiveView.Pixels != nullptr) {
        std::memset(
            LiveView.Pixels, 0xFF,
            static_cast<std::size_t>(LiveView.FrameWidth) * LiveView.FrameHeight * LiveView.BytesPerPixel);
        LiveView.CopyTarget = LiveView.Pixels;
        BitBlt(LiveView.WindowDC[0], 0, 0, LiveView.FrameWidth, LiveView.FrameHeight, LiveView.OffscreenDC, 0,
               0, SRCCOPY);
        // Created only now, so the worker finds the record complete. It only reads the library binding.
        LiveView.Worker =
            CreateThread(nullptr, 0, FrameWorker, const_cast<CaptureLibrary*>(&capture), 0, nullptr);
    }
    for (ChannelIndex channel = 0; channel < ChannelCount; ++channel) {
        capture.SetChannelPixelBytes(channel, static_cast<std::uint8_t>(LiveView.BytesPerPixel));
        capture.SetChannelMode(channel, static_cast<std::uint8_t>(LiveView.CaptureMode));
        BYTE* pixels = nullptr;
        std::int32_t width = 0;
        std::int32_t height = 0;
        std::int32_t sequence = 0;
        capture.GetChannelFrame(channel, &pixels, &width, &height, &sequence);
        capture.StartChannel(channel, StartAllFrames);
    }
}

void ReleaseLiveView() {
    stopWorker();
    releaseDrawingObjects();
}
