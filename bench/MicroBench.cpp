// Micro-benchmarks: the per-frame path and its floors, events, the card's cost.
#include <benchmark/benchmark.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstring>
#include <random>
#include <thread>
#include <vector>

#include "kesmacap/sim/TestPattern.h"
#include "kesmacap/v4l2/FramePlacer.h"
#include "liveview/LiveView.h"
#include "platform/Win32.h"
#include "platform/linux/EventHandle.h"
#include "platform/screen/WindowSurface.h"
#include "tests/support/StagingBitmap.h"

namespace {

constexpr int Width = 640;
constexpr int Height = 480;
constexpr std::size_t FrameBytes = std::size_t{Width} * Height * 3;
constexpr std::size_t SurfaceBytes = std::size_t{Width} * Height * 4;

std::vector<BYTE> noise(std::size_t bytes) {
    std::vector<BYTE> data(bytes);
    std::mt19937 random(7);
    std::generate(data.begin(), data.end(), [&] { return static_cast<BYTE>(random()); });
    return data;
}

// A staging bitmap in its memory context and a window surface with its context.
struct Staging {
    Staging() {
        const auto content = noise(FrameBytes);
        std::memcpy(pixels, content.data(), FrameBytes);
    }
    ~Staging() { ReleaseDC(&surface, window); }
    WindowSurface surface{Width, Height, [] {}};
    HDC window = GetDC(&surface);
    testing_support::StagingBitmap bitmap{window, Width, -Height};
    HDC memory = bitmap.dc;
    BYTE* pixels = bitmap.bits;
};

void BM_BitBlt640x480(benchmark::State& state) {
    Staging staging;
    for (auto _ : state) {
        BitBlt(staging.window, 0, 0, Width, Height, staging.memory, 0, 0, SRCCOPY);
        staging.surface.repaintTaken();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * SurfaceBytes));
}
BENCHMARK(BM_BitBlt640x480);

void BM_MemcpySurfaceBytes(benchmark::State& state) {
    const auto source = noise(SurfaceBytes);
    std::vector<BYTE> target(SurfaceBytes);
    for (auto _ : state) {
        std::memcpy(target.data(), source.data(), SurfaceBytes);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * SurfaceBytes));
}
BENCHMARK(BM_MemcpySurfaceBytes);

// One worker pass without the library: the row copy into the staging bitmap and the blit.
void BM_WorkerFramePass(benchmark::State& state) {
    Staging staging;
    const auto frame = noise(FrameBytes);
    for (auto _ : state) {
        CopyFrameRows(frame.data(), Width, Height, staging.pixels, Width, Height, 3);
        BitBlt(staging.window, 0, 0, Width, Height, staging.memory, 0, 0, SRCCOPY);
        staging.surface.repaintTaken();
    }
}
BENCHMARK(BM_WorkerFramePass);

// The floor for the pass: copying the same bytes with memcpy.
void BM_WorkerFloorMemcpy(benchmark::State& state) {
    const auto frame = noise(FrameBytes);
    std::vector<BYTE> staging(FrameBytes);
    const auto surfaceSource = noise(SurfaceBytes);
    std::vector<BYTE> surface(SurfaceBytes);
    for (auto _ : state) {
        std::memcpy(staging.data(), frame.data(), FrameBytes);
        std::memcpy(surface.data(), surfaceSource.data(), SurfaceBytes);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_WorkerFloorMemcpy);

// SetEvent in one thread to the return of WaitForMultipleObjects in another.
void BM_EventRoundTrip(benchmark::State& state) {
    const HANDLE ping = EventHandleFromDescriptor(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
    const HANDLE pong = EventHandleFromDescriptor(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
    std::atomic<bool> running{true};
    std::thread echo([&] {
        while (true) {
            WaitForMultipleObjects(1, &ping, FALSE, INFINITE);
            ResetEvent(ping);
            if (!running) {
                break;
            }
            SetEvent(pong);
        }
    });
    std::vector<double> microseconds;
    microseconds.reserve(1 << 20);
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        SetEvent(ping);
        WaitForMultipleObjects(1, &pong, FALSE, INFINITE);
        const auto end = std::chrono::steady_clock::now();
        ResetEvent(pong);
        microseconds.push_back(std::chrono::duration<double, std::micro>(end - start).count());
    }
    running = false;
    SetEvent(ping);
    echo.join();
    close(DescriptorFromEventHandle(ping));
    close(DescriptorFromEventHandle(pong));
    std::sort(microseconds.begin(), microseconds.end());
    // A round trip crosses the thread boundary twice.
    state.counters["p50_us"] = microseconds[microseconds.size() / 2];
    state.counters["p99_us"] = microseconds[microseconds.size() * 99 / 100];
}
BENCHMARK(BM_EventRoundTrip)->UseRealTime();

void BM_SimulatedCardRenderFrame(benchmark::State& state) {
    const kesmacap::TestPattern pattern(0);
    std::vector<std::uint8_t> frame(FrameBytes);
    std::uint64_t number = 0;
    for (auto _ : state) {
        pattern.renderLive(frame.data(), number++, std::chrono::system_clock::now());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_SimulatedCardRenderFrame);

// A captured analogue frame into its window from the device's buffer: 720 x
// 576 PAL or 720 x 480 NTSC, interlaced as the card lays the fields out, each
// way of dealing with them, in the card's own YUYV or I420, or in the B, G, R
// libv4l2 converts other formats to (its conversion not counted).
constexpr std::array<std::uint32_t, 3> CapturedFormats{V4L2_PIX_FMT_BGR24, V4L2_PIX_FMT_YUYV,
                                                       V4L2_PIX_FMT_YUV420};

void BM_PlaceCapturedFrame(benchmark::State& state) {
    const int height = static_cast<int>(state.range(0));
    const auto field = static_cast<std::uint32_t>(state.range(1));
    const auto deinterlace = static_cast<kesmacap::Deinterlace>(state.range(2));
    const std::uint32_t format = CapturedFormats.at(static_cast<std::size_t>(state.range(3)));
    const std::size_t line = format == V4L2_PIX_FMT_BGR24  ? 720 * 3
                             : format == V4L2_PIX_FMT_YUYV ? 720 * 2
                                                           : 720;
    const std::size_t lines = format == V4L2_PIX_FMT_YUV420 ? height * std::size_t{3} / 2 : height;
    const auto captured = noise(line * lines);
    std::vector<std::uint8_t> shown(FrameBytes);
    kesmacap::FramePlacer placer;
    kesmacap::CapturedFrame frame{captured.data(), captured.size(), 720, height, line, field, true, format};
    frame.standard = height == 576 ? V4L2_STD_PAL : V4L2_STD_NTSC;
    for (auto _ : state) {
        benchmark::DoNotOptimize(placer.place(frame, deinterlace, shown.data()));
        benchmark::ClobberMemory();
    }
}
constexpr long Bob = static_cast<long>(kesmacap::Deinterlace::Bob);
constexpr long Blend = static_cast<long>(kesmacap::Deinterlace::Blend);
constexpr long Off = static_cast<long>(kesmacap::Deinterlace::Off);
constexpr long Bgr = 0;
constexpr long Yuyv = 1;
constexpr long I420 = 2;
BENCHMARK(BM_PlaceCapturedFrame)
    ->ArgNames({"lines", "field", "deinterlace", "format"})
    ->Args({576, V4L2_FIELD_NONE, Bob, Bgr})
    ->Args({576, V4L2_FIELD_INTERLACED, Bob, Bgr})
    ->Args({576, V4L2_FIELD_INTERLACED, Blend, Bgr})
    ->Args({576, V4L2_FIELD_INTERLACED, Off, Bgr})
    ->Args({576, V4L2_FIELD_SEQ_TB, Off, Bgr})
    ->Args({576, V4L2_FIELD_NONE, Bob, Yuyv})
    ->Args({576, V4L2_FIELD_INTERLACED, Bob, Yuyv})
    ->Args({576, V4L2_FIELD_INTERLACED, Blend, Yuyv})
    ->Args({576, V4L2_FIELD_INTERLACED, Off, Yuyv})
    ->Args({576, V4L2_FIELD_SEQ_TB, Bob, Yuyv})
    ->Args({576, V4L2_FIELD_SEQ_TB, Off, Yuyv})
    ->Args({480, V4L2_FIELD_INTERLACED, Bob, Yuyv})
    ->Args({576, V4L2_FIELD_INTERLACED, Bob, I420});

}  // namespace

BENCHMARK_MAIN();
