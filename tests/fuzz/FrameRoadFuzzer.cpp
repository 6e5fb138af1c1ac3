// The frame's road as a capture library may hand frames over: any width,
// height and sequence, a null pointer or exactly width x height x 3 bytes,
// through the worker's row copy and BitBlt into a window surface of any size.
#include <fuzzer/FuzzedDataProvider.h>

#include <vector>

#include "liveview/LiveView.h"
#include "platform/Win32.h"
#include "platform/screen/WindowSurface.h"

namespace {

constexpr std::size_t MaxFrameBytes = 8u << 20;

std::int32_t side(FuzzedDataProvider& in) {
    return in.ConsumeBool() ? in.ConsumeIntegralInRange<std::int32_t>(-2, 1400)
                            : in.ConsumeIntegral<std::int32_t>();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    WindowSurface surface(in.ConsumeIntegralInRange(1, 1024), in.ConsumeIntegralInRange(1, 1024), [] {});
    const HDC window = GetDC(&surface);
    const HDC memory = CreateCompatibleDC(window);
    BITMAPINFO info{};
    info.bmiHeader = BITMAPINFOHEADER{sizeof(BITMAPINFOHEADER), 640, -480, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    const HBITMAP staging = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    SelectObject(memory, staging);
    while (in.remaining_bytes() > 0) {
        const std::int32_t width = side(in);
        const std::int32_t height = side(in);
        [[maybe_unused]] const std::int32_t sequence = in.ConsumeIntegral<std::int32_t>();
        std::vector<BYTE> frame;
        // Exactly width x height x 3 bytes, when that is a size worth allocating.
        if (!in.ConsumeBool() && width > 0 && height > 0 &&
            static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3 <= MaxFrameBytes) {
            frame.assign(static_cast<std::size_t>(width) * height * 3, static_cast<BYTE>(width ^ height));
        }
        CopyFrameRows(frame.empty() ? nullptr : frame.data(), width, height, static_cast<BYTE*>(bits), 640,
                      480, 3);
        BitBlt(window, 0, 0, 640, 480, memory, 0, 0, SRCCOPY);
    }
    DeleteDC(memory);
    DeleteObject(staging);
    ReleaseDC(&surface, window);
    return 0;
}
