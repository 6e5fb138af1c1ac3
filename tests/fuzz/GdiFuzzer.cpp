// CreateDIBSection headers of any value, then BitBlt rectangles and origins
// of any value from what was made into window surfaces of any size.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <cstring>

#include "platform/Win32.h"
#include "platform/screen/WindowSurface.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    BITMAPINFO info{};
    BITMAPINFOHEADER& header = info.bmiHeader;
    header.biSize = in.ConsumeBool() ? sizeof(BITMAPINFOHEADER) : in.ConsumeIntegral<DWORD>();
    header.biWidth =
        in.ConsumeBool() ? in.ConsumeIntegralInRange<LONG>(-3, 2100) : in.ConsumeIntegral<LONG>();
    header.biHeight =
        in.ConsumeBool() ? in.ConsumeIntegralInRange<LONG>(-2100, 2100) : in.ConsumeIntegral<LONG>();
    header.biPlanes = in.ConsumeBool() ? 1 : in.ConsumeIntegral<WORD>();
    header.biBitCount = in.ConsumeBool() ? 24 : in.ConsumeIntegral<WORD>();
    header.biCompression = in.ConsumeBool() ? BI_RGB : in.ConsumeIntegral<DWORD>();
    header.biSizeImage = in.ConsumeIntegral<DWORD>();
    header.biClrUsed = in.ConsumeIntegral<DWORD>();
    const UINT usage = in.ConsumeBool() ? DIB_RGB_COLORS : in.ConsumeIntegral<UINT>();
    // Bitmaps the layer would accept but that are merely big are left out: they only cost memory.
    const long long area = std::llabs(static_cast<long long>(header.biWidth)) *
                           std::llabs(static_cast<long long>(header.biHeight));
    if (area > 2100LL * 2100 && std::llabs(header.biWidth) <= 16384 && std::llabs(header.biHeight) <= 16384) {
        return 0;
    }
    WindowSurface surface(in.ConsumeIntegralInRange(1, 1500), in.ConsumeIntegralInRange(1, 1500), [] {});
    const HDC window = GetDC(&surface);
    const HDC memory = CreateCompatibleDC(window);
    void* bits = nullptr;
    const HBITMAP bitmap = CreateDIBSection(memory, &info, usage, &bits, nullptr, 0);
    if (bitmap != nullptr) {
        const std::size_t stride = ((static_cast<std::size_t>(header.biWidth) * 24 + 31) / 32) * 4;
        std::memset(bits, 0x5A, stride * static_cast<std::size_t>(std::llabs(header.biHeight)));
        SelectObject(memory, bitmap);
    }
    while (in.remaining_bytes() > 0) {
        const auto coordinate = [&] {
            return in.ConsumeBool() ? in.ConsumeIntegralInRange(-2000, 2000) : in.ConsumeIntegral<int>();
        };
        const int x = coordinate();
        const int y = coordinate();
        const int width = coordinate();
        const int height = coordinate();
        const int sourceX = coordinate();
        const int sourceY = coordinate();
        BitBlt(window, x, y, width, height, memory, sourceX, sourceY, in.ConsumeBool() ? SRCCOPY : 0);
    }
    DeleteDC(memory);
    DeleteObject(bitmap);
    ReleaseDC(&surface, window);
    return 0;
}
