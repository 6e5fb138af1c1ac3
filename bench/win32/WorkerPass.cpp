// One frame worker pass on real GDI (the row copy into the 640 x 480 staging
// bitmap, then BitBlt into a window) against memcpy of the same bytes, in one
// run. Usage: worker_pass_win32 [passes]
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "liveview/LiveView.h"
#include "tests/support/StagingBitmap.h"

namespace {

constexpr int Width = 640;
constexpr int Height = 480;
constexpr std::size_t FrameBytes = std::size_t{Width} * Height * 3;

double nowMicroseconds() {
    static const double perMicrosecond = [] {
        LARGE_INTEGER frequency;
        QueryPerformanceFrequency(&frequency);
        return static_cast<double>(frequency.QuadPart) / 1e6;
    }();
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) / perMicrosecond;
}

template <typename Pass>
double medianMicroseconds(int passes, Pass&& pass) {
    std::vector<double> times;
    for (int i = 0; i < passes; ++i) {
        const double start = nowMicroseconds();
        pass();
        times.push_back(nowMicroseconds() - start);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    const int passes = argc > 1 ? std::max(1, std::atoi(argv[1])) : 500;
    const HWND window = CreateWindowExW(0, L"STATIC", L"worker pass", WS_POPUP | WS_VISIBLE, 0, 0, Width,
                                        Height, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    const HDC windowDc = GetDC(window);
    const testing_support::StagingBitmap staging(windowDc, Width, -Height);
    const HDC memoryDc = staging.dc;
    if (window == nullptr || staging.bits == nullptr) {
        std::fprintf(stderr, "no window or staging bitmap (is there a display?)\n");
        return 1;
    }
    std::vector<BYTE> frame(FrameBytes);
    for (std::size_t i = 0; i < frame.size(); ++i) {
        frame[i] = static_cast<BYTE>(i * 31);
    }
    BYTE* const target = staging.bits;

    const double worker = medianMicroseconds(passes, [&] {
        CopyFrameRows(frame.data(), Width, Height, target, Width, Height, 3);
        BitBlt(windowDc, 0, 0, Width, Height, memoryDc, 0, 0, SRCCOPY);
        GdiFlush();
    });
    const double rows = medianMicroseconds(
        passes, [&] { CopyFrameRows(frame.data(), Width, Height, target, Width, Height, 3); });
    const double blit = medianMicroseconds(passes, [&] {
        BitBlt(windowDc, 0, 0, Width, Height, memoryDc, 0, 0, SRCCOPY);
        GdiFlush();
    });
    std::vector<BYTE> copy(FrameBytes);
    std::vector<BYTE> surface(std::size_t{Width} * Height * 4);
    std::vector<BYTE> surfaceSource(surface.size(), 1);
    const double floor = medianMicroseconds(passes, [&] {
        std::memcpy(copy.data(), frame.data(), FrameBytes);
        std::memcpy(surface.data(), surfaceSource.data(), surface.size());
    });
    std::printf("worker pass (row copy + BitBlt into a window): %.1f us\n", worker);
    std::printf("  of which the row copy: %.1f us, BitBlt: %.1f us\n", rows, blit);
    std::printf("memcpy of the same bytes (921,600 + 1,228,800): %.1f us\n", floor);
    std::printf("ratio: %.2f\n", worker / floor);

    ReleaseDC(window, windowDc);
    return 0;
}
