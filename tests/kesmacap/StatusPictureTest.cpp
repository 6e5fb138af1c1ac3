#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "kesmacap/pictures/Picture.h"
#include "kesmacap/pictures/StatusPicture.h"

namespace {

using kesmacap::BytesPerPixel;
using kesmacap::MaxHeight;
using kesmacap::MaxWidth;

// How many pixels of a region pass a test of their B, G, R.
template <typename Test>
int count(const std::vector<std::uint8_t>& pixels, int left, int top, int right, int bottom, Test test) {
    int found = 0;
    for (int y = top; y < bottom; ++y) {
        for (int x = left; x < right; ++x) {
            const std::uint8_t* const p = &pixels[(static_cast<std::size_t>(y) * MaxWidth + x) * BytesPerPixel];
            found += test(p[0], p[1], p[2]) ? 1 : 0;
        }
    }
    return found;
}

// Drawn by Pango on Linux and by GDI on Windows, alike: the camera's name in
// white, the reason in amber within the part of the picture a tiled window
// shows, the source below it, on the dark face the suites know it by.
TEST(StatusPicture, NameReasonAndSourceInAnyScriptOnItsDarkFace) {
    std::vector<std::uint8_t> pixels(kesmacap::MaxFrameBytes, 0x7F);
    kesmacap::DrawStatusPicture(pixels.data(), 2, "無訊號 No signal since 12:00: the stream ended. Trying again.",
                                "rtsp://***@192.168.1.64:554/Streaming/Channels/102");
    const auto background = [](int b, int g, int r) { return b == 0x20 && g == 0x18 && r == 0x10; };
    const auto white = [](int b, int g, int r) { return b > 200 && g > 200 && r > 200; };
    const auto amber = [](int b, int g, int r) { return r > 200 && g > 150 && b < 120; };
    EXPECT_TRUE(background(pixels[0], pixels[1], pixels[2])) << "the corner";
    EXPECT_GT(count(pixels, 0, 0, MaxWidth, 50, white), 50) << "\"Camera3\"";
    EXPECT_GT(count(pixels, 0, 60, 340, 200, amber), 100) << "the reason, within the tile";
    EXPECT_EQ(count(pixels, 340, 60, MaxWidth, MaxHeight, amber), 0) << "wrapped, not cut off at the tile";
    EXPECT_EQ(count(pixels, 0, 0, MaxWidth, MaxHeight, [](int b, int g, int r) {
                  return b == 0x7F && g == 0x7F && r == 0x7F;
              }),
              0)
        << "every pixel drawn";
}

}  // namespace
