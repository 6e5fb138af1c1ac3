// The frame's road as a capture library may hand frames over: any width,
// height and sequence, a null pointer or exactly width x height x 3 bytes,
// through the worker's own pass (row copy, BitBlt into a window surface of
// any size, reset) as the worker makes it for a signalled channel.
#include <fuzzer/FuzzedDataProvider.h>

#include <vector>

#include "liveview/LiveView.h"
#include "platform/Win32.h"
#include "platform/screen/WindowSurface.h"
#include "tests/support/StagingBitmap.h"

namespace {

constexpr std::size_t MaxFrameBytes = 8u << 20;

// What the library hands out next, as GetChannelFrame gives it.
struct {
    BYTE* pixels = nullptr;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::int32_t sequence = 0;
} next;

std::int32_t getChannelFrame(std::uint16_t, std::uint8_t** pixels, std::int32_t* width, std::int32_t* height,
                             std::int32_t* sequence) {
    *pixels = next.pixels;
    *width = next.width;
    *height = next.height;
    *sequence = next.sequence;
    return 0;
}
std::int32_t queryChannelState(std::uint16_t, std::int32_t* state) {
    *state = 2;
    return 0;
}
std::int32_t channelOnly(std::uint16_t) {
    return 0;
}

kesmacap_fn lookup(std::uint16_t ordinal) {
    const auto as = [](auto function) { return reinterpret_cast<kesmacap_fn>(function); };
    switch (ordinal) {
        case KESMACAP_GET_CHANNEL_FRAME:
            return as(&getChannelFrame);
        case KESMACAP_QUERY_CHANNEL_STATE:
            return as(&queryChannelState);
        case KESMACAP_OPEN_CHANNEL:
        case KESMACAP_STOP_CHANNEL:
        case KESMACAP_CLOSE_CHANNEL:
            return as(&channelOnly);
        default:
            // Never called by the worker's pass; bound so that the table is whole.
            return as(+[](std::uint16_t, std::intptr_t) -> std::int32_t { return 0; });
    }
}

std::int32_t side(FuzzedDataProvider& in) {
    return in.ConsumeBool() ? in.ConsumeIntegralInRange<std::int32_t>(-2, 1400)
                            : in.ConsumeIntegral<std::int32_t>();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const CaptureLibrary capture = CaptureLibrary::bind(lookup, "the fuzzed frames");
    FuzzedDataProvider in(data, size);
    WindowSurface surface(in.ConsumeIntegralInRange(1, 1024), in.ConsumeIntegralInRange(1, 1024), [] {});
    const HDC window = GetDC(&surface);
    const testing_support::StagingBitmap staging(window, 640, -480);
    // The record as a start leaves it for channel 0 (no worker runs here).
    LiveView.CopyTarget = staging.bits;
    LiveView.OffscreenDC = staging.dc;
    LiveView.WindowDC[0] = window;
    LiveView.FrameWidth = 640;
    LiveView.FrameHeight = 480;
    LiveView.BytesPerPixel = 3;
    while (in.remaining_bytes() > 0) {
        next.width = side(in);
        next.height = side(in);
        next.sequence = in.ConsumeIntegral<std::int32_t>();
        std::vector<BYTE> frame;
        // Exactly width x height x 3 bytes, when that is a size worth allocating.
        if (!in.ConsumeBool() && next.width > 0 && next.height > 0 &&
            static_cast<std::size_t>(next.width) * static_cast<std::size_t>(next.height) * 3 <=
                MaxFrameBytes) {
            frame.assign(static_cast<std::size_t>(next.width) * next.height * 3,
                         static_cast<BYTE>(next.width ^ next.height));
        }
        next.pixels = frame.empty() ? nullptr : frame.data();
        ShowFrame(capture, 0);
    }
    LiveView.CopyTarget = nullptr;
    LiveView.OffscreenDC = nullptr;
    LiveView.WindowDC[0] = nullptr;
    ReleaseDC(&surface, window);
    return 0;
}
