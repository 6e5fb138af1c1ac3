#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "platform/Win32.h"
#include "platform/linux/GdiObjects.h"
#include "platform/linux/PixelConversion.h"
#include "platform/screen/WindowSurface.h"
#include "tests/support/StagingBitmap.h"

namespace {

constexpr std::uint32_t Red = 0xFFFF0000u;
constexpr std::uint32_t Green = 0xFF00FF00u;
constexpr std::uint32_t Blue = 0xFF0000FFu;

BITMAPINFO header24(LONG width, LONG height) {
    BITMAPINFO info{};
    info.bmiHeader = BITMAPINFOHEADER{40, width, height, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    return info;
}

struct Staging : testing_support::StagingBitmap {
    Staging(LONG width, LONG height) : StagingBitmap(nullptr, width, height) {}
    BYTE* pixel(int x, int y, std::size_t stride) const { return bits + y * stride + x * 3; }
    void setPixel(int x, int y, std::size_t stride, BYTE b, BYTE g, BYTE r) const {
        BYTE* p = pixel(x, y, stride);
        p[0] = b;
        p[1] = g;
        p[2] = r;
    }
};

// A window surface with a context on it and a count of repaint requests.
struct Window {
    Window(int width, int height) : surface(width, height, [this] { ++repaints; }), dc(GetDC(&surface)) {}
    ~Window() { ReleaseDC(&surface, dc); }
    std::uint32_t at(int x, int y) {
        std::uint32_t value = 0;
        surface.read([&](const std::uint32_t* pixels, WindowSurface::Extent) {
            value = pixels[y * surface.width() + x];
        });
        return value;
    }
    WindowSurface::Extent extent() {
        WindowSurface::Extent result;
        surface.read([&](const std::uint32_t*, WindowSurface::Extent drawn) { result = drawn; });
        return result;
    }
    int repaints = 0;
    WindowSurface surface;
    HDC dc;
};

TEST(Graphics, TopDownBgrLandsWithItsColoursAtItsPlace) {
    Staging topDown(4, -3);
    const std::size_t stride = DibSection::strideFor(4);
    topDown.setPixel(0, 0, stride, 0, 0, 255);  // red
    topDown.setPixel(1, 0, stride, 0, 255, 0);  // green
    topDown.setPixel(3, 2, stride, 255, 0, 0);  // blue, bottom right
    Window window(8, 8);
    ASSERT_TRUE(BitBlt(window.dc, 2, 1, 4, 3, topDown.dc, 0, 0, SRCCOPY));
    EXPECT_EQ(window.at(2, 1), Red);
    EXPECT_EQ(window.at(3, 1), Green);
    EXPECT_EQ(window.at(5, 3), Blue);
    EXPECT_EQ(window.at(0, 0), 0u) << "outside the blit stays untouched";
    EXPECT_EQ(window.repaints, 1);
}

TEST(Graphics, PositiveHeightMeansBottomUpRows) {
    Staging bottomUp(2, 2);
    const std::size_t stride = DibSection::strideFor(2);
    bottomUp.setPixel(0, 0, stride, 0, 0, 255);  // first row in memory is the bottom row
    Window window(2, 2);
    BitBlt(window.dc, 0, 0, 2, 2, bottomUp.dc, 0, 0, SRCCOPY);
    EXPECT_EQ(window.at(0, 1), Red);
    EXPECT_EQ(window.at(0, 0), 0xFF000000u);
}

TEST(Graphics, RowsArePaddedToFourBytesAsWindowsPadsThem) {
    EXPECT_EQ(DibSection::strideFor(1), 4u);
    EXPECT_EQ(DibSection::strideFor(5), 16u);
    EXPECT_EQ(DibSection::strideFor(640), 1920u);
    Staging odd(5, -2);
    const std::size_t stride = 16;
    odd.setPixel(0, 1, stride, 0, 255, 0);  // second row starts after the padding
    Window window(5, 2);
    BitBlt(window.dc, 0, 0, 5, 2, odd.dc, 0, 0, SRCCOPY);
    EXPECT_EQ(window.at(0, 1), Green);
}

TEST(Graphics, ClippingAtEveryEdgeWritesNothingOutsideTheSurface) {
    Staging staging(640, -480);
    std::memset(staging.bits, 0xFF, 640 * 480 * 3);
    // A guard band around the surface's buffer would catch any write past it:
    // ASan does that for the heap buffer; here the extent shows the clip.
    for (const auto& [x, y] :
         std::vector<std::pair<int, int>>{{-5, -7}, {3, -7}, {-5, 4}, {6, 5}, {-1000, 0}}) {
        Window window(10, 8);
        ASSERT_TRUE(BitBlt(window.dc, x, y, 640, 480, staging.dc, 0, 0, SRCCOPY));
        const WindowSurface::Extent extent = window.extent();
        EXPECT_LE(extent.width, 10);
        EXPECT_LE(extent.height, 8);
        if (x > -640 && y > -480) {
            EXPECT_EQ(window.at(std::max(x, 0), std::max(y, 0)), 0xFFFFFFFFu);
        }
    }
}

TEST(Graphics, SourceRectangleIsClippedToTheBitmap) {
    Staging staging(4, -4);
    const std::size_t stride = DibSection::strideFor(4);
    staging.setPixel(3, 3, stride, 255, 0, 0);
    Window window(10, 10);
    ASSERT_TRUE(BitBlt(window.dc, 0, 0, 10, 10, staging.dc, 2, 2, SRCCOPY));
    EXPECT_EQ(window.at(1, 1), Blue);
    EXPECT_EQ(window.extent().width, 2);
    EXPECT_EQ(window.extent().height, 2);
    ASSERT_TRUE(BitBlt(window.dc, 0, 0, 10, 10, staging.dc, -3, 0, SRCCOPY));
    EXPECT_EQ(window.at(3, 0), 0xFF000000u) << "source column 0 lands at destination column 3";
}

TEST(Graphics, FullFrameIntoASmallerSurface) {
    Staging staging(640, -480);
    std::memset(staging.bits, 0x80, 640 * 480 * 3);
    Window window(320, 200);
    ASSERT_TRUE(BitBlt(window.dc, 0, 0, 640, 480, staging.dc, 0, 0, SRCCOPY));
    EXPECT_EQ(window.at(319, 199), 0xFF808080u);
    EXPECT_EQ(window.extent().width, 320);
}

TEST(Graphics, BadHeadersGiveNoBitmapAndNoPixels) {
    const HDC dc = CreateCompatibleDC(nullptr);
    const std::vector<BITMAPINFO> bad = [] {
        std::vector<BITMAPINFO> headers(6, header24(16, 16));
        headers[0].bmiHeader.biBitCount = 32;
        headers[1].bmiHeader.biWidth = 0;
        headers[2].bmiHeader.biHeight = 0;
        headers[3].bmiHeader.biCompression = 3;
        headers[4].bmiHeader.biSize = 12;
        headers[5].bmiHeader.biWidth = 1 << 30;
        return headers;
    }();
    for (const BITMAPINFO& info : bad) {
        void* bits = reinterpret_cast<void*>(1);
        EXPECT_EQ(CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0), nullptr);
        EXPECT_EQ(bits, nullptr);
    }
    void* bits = nullptr;
    EXPECT_EQ(CreateDIBSection(dc, nullptr, DIB_RGB_COLORS, &bits, nullptr, 0), nullptr);
    DeleteDC(dc);
}

TEST(Graphics, ObjectsFollowWindowsRules) {
    Staging staging(2, 2);
    Window window(2, 2);
    EXPECT_FALSE(DeleteObject(staging.bitmap)) << "a selected bitmap is not deleted";
    EXPECT_FALSE(DeleteDC(window.dc)) << "a window context goes back with ReleaseDC";
    EXPECT_FALSE(BitBlt(window.dc, 0, 0, 2, 2, window.dc, 0, 0, SRCCOPY));
    EXPECT_FALSE(BitBlt(window.dc, 0, 0, 2, 2, staging.dc, 0, 0, 0));
    const HDC empty = CreateCompatibleDC(nullptr);
    EXPECT_FALSE(BitBlt(window.dc, 0, 0, 2, 2, empty, 0, 0, SRCCOPY)) << "no bitmap selected";
    EXPECT_EQ(SelectObject(empty, staging.bitmap), nullptr) << "a bitmap sits in one context at a time";
    DeleteDC(empty);
    EXPECT_EQ(GetDC(nullptr), nullptr);
}

TEST(Graphics, RepaintRequestsCoalesceUntilTaken) {
    Staging staging(2, 2);
    Window window(2, 2);
    for (int blit = 0; blit < 5; ++blit) {
        BitBlt(window.dc, 0, 0, 2, 2, staging.dc, 0, 0, SRCCOPY);
    }
    EXPECT_EQ(window.repaints, 1);
    window.surface.repaintTaken();
    BitBlt(window.dc, 0, 0, 2, 2, staging.dc, 0, 0, SRCCOPY);
    EXPECT_EQ(window.repaints, 2);
}

TEST(Graphics, RowConversionMatchesBytewiseForEveryWidth) {
    std::vector<BYTE> source(3 * 70);
    for (std::size_t i = 0; i < source.size(); ++i) {
        source[i] = static_cast<BYTE>(i * 37 + 11);
    }
    for (int width = 1; width <= 70; ++width) {
        // An exact-size copy lets ASan catch a read past the row.
        const std::vector<BYTE> row(source.begin(), source.begin() + 3 * width);
        std::vector<std::uint32_t> out(width);
        ConvertBgrRowToXrgb(row.data(), out.data(), width);
        for (int x = 0; x < width; ++x) {
            const std::uint32_t expected =
                0xFF000000u | row[3 * x + 2] << 16 | row[3 * x + 1] << 8 | row[3 * x];
            ASSERT_EQ(out[x], expected) << "width " << width << " pixel " << x;
        }
    }
}

}  // namespace
