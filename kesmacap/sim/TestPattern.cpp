#include "kesmacap/sim/TestPattern.h"

#include "kesmacap/pictures/Lettering.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

namespace kesmacap {

namespace {

// Per channel: background, accent and text colours, as 0xRRGGBB.
struct Palette {
    std::uint32_t dark;
    std::uint32_t light;
    std::uint32_t accent;
};
constexpr std::array<Palette, 4> Palettes{{
    {0x0B2A5B, 0x2F6BC4, 0xFFD23F},  // blue, yellow accent
    {0x0E4D23, 0x2FA858, 0xFF5FA2},  // green, pink accent
    {0x5B1A0B, 0xC4502F, 0x3FE0FF},  // red, cyan accent
    {0x3B145B, 0x8A3FC4, 0x9CFF3F},  // purple, lime accent
}};

constexpr std::uint32_t White = 0xFFFFFF;
constexpr std::uint32_t Black = 0x000000;

std::uint32_t blend(std::uint32_t from, std::uint32_t to, int step, int steps) {
    std::uint32_t result = 0;
    for (int shift = 0; shift <= 16; shift += 8) {
        const int a = static_cast<int>((from >> shift) & 0xFF);
        const int b = static_cast<int>((to >> shift) & 0xFF);
        result |= static_cast<std::uint32_t>(a + (b - a) * step / steps) << shift;
    }
    return result;
}

// Everything that tells the pictures apart sits in the top-left corner, which
// a camera window shows even when tiled small.
constexpr int Margin = 16;
constexpr int LabelScale = 10;
constexpr int TextScale = 3;
constexpr int CounterTop = 100;
constexpr int ClockTop = 130;

void drawText(Picture& picture, int y, int scale, std::string_view text, std::uint32_t rgb) {
    DrawText(picture.pixels.data(), picture.width, picture.height, Margin, y, scale, text, rgb);
}

std::string channelLabel(int channel) {
    return "CH" + std::to_string(channel + 1);
}

}  // namespace

TestPattern::TestPattern(int channel)
    : channel_(channel), liveBase_(MaxWidth, MaxHeight), still_(MaxWidth, MaxHeight) {
    const Palette& palette = Palettes[static_cast<std::size_t>(channel) % Palettes.size()];

    // Live: a vertical gradient in the channel's colours with its name on top.
    for (int y = 0; y < MaxHeight; ++y) {
        FillRect(liveBase_.pixels.data(), MaxWidth, MaxHeight, 0, y, MaxWidth, 1,
                 blend(palette.dark, palette.light, y, MaxHeight - 1));
    }
    drawText(liveBase_, Margin, LabelScale, channelLabel(channel), White);

    // Still: colour bars, the channel's name and a notice that nothing runs.
    constexpr std::array<std::uint32_t, 7> Bars{0xC0C0C0, 0xC0C000, 0x00C0C0, 0x00C000,
                                                0xC000C0, 0xC00000, 0x0000C0};
    const int barWidth = (MaxWidth + static_cast<int>(Bars.size()) - 1) / static_cast<int>(Bars.size());
    for (std::size_t bar = 0; bar < Bars.size(); ++bar) {
        FillRect(still_.pixels.data(), MaxWidth, MaxHeight, static_cast<int>(bar) * barWidth, 0, barWidth,
                 MaxHeight, Bars[bar]);
    }
    FillRect(still_.pixels.data(), MaxWidth, MaxHeight, 0, 0, MaxWidth, ClockTop + 8 * TextScale,
             palette.dark);
    drawText(still_, Margin, LabelScale, channelLabel(channel), White);
    drawText(still_, CounterTop, TextScale * 2, "NO SIGNAL", White);
}

namespace {

// A bar sweeping across the top-left corner, another across the whole width
// the other way, so motion shows at a glance at any window size.
constexpr int BarWidth = 24;
constexpr int FastTop = 170;
constexpr int FastHeight = 60;
constexpr int SlowTop = 240;
constexpr int SlowHeight = 200;
constexpr int CounterGlyphs = 26;  // "FRAME " and up to 20 digits

int fastBarLeft(std::uint64_t frame) {
    constexpr int corner = 320;
    return static_cast<int>((frame * 6) % (corner + BarWidth)) - BarWidth;
}

int slowBarLeft(std::uint64_t frame) {
    return MaxWidth - BarWidth - (static_cast<int>((frame * 4) % (MaxWidth + BarWidth)) - BarWidth);
}

}  // namespace

void TestPattern::restore(std::uint8_t* pixels, int x, int y, int width, int height) const {
    const int left = std::max(x, 0);
    const int right = std::min(x + width, MaxWidth);
    for (int row = std::max(y, 0); row < std::min(y + height, MaxHeight) && left < right; ++row) {
        const std::size_t at =
            (static_cast<std::size_t>(row) * MaxWidth + static_cast<std::size_t>(left)) * 3;
        std::memcpy(pixels + at, liveBase_.pixels.data() + at, static_cast<std::size_t>(right - left) * 3);
    }
}

void TestPattern::renderLive(std::uint8_t* pixels, std::uint64_t frame,
                             std::chrono::system_clock::time_point now,
                             std::optional<std::uint64_t> previous) const {
    if (previous) {
        // What the earlier frame drew over the unchanging picture; the clock's
        // black box is drawn whole each time.
        restore(pixels, fastBarLeft(*previous), FastTop, BarWidth, FastHeight);
        restore(pixels, slowBarLeft(*previous), SlowTop, BarWidth, SlowHeight);
        restore(pixels, Margin, CounterTop, TextWidth(CounterGlyphs, TextScale), 7 * TextScale);
    } else {
        std::memcpy(pixels, liveBase_.pixels.data(), liveBase_.pixels.size());
    }
    const Palette& palette = Palettes[static_cast<std::size_t>(channel_) % Palettes.size()];
    FillRect(pixels, MaxWidth, MaxHeight, fastBarLeft(frame), FastTop, BarWidth, FastHeight, palette.accent);
    FillRect(pixels, MaxWidth, MaxHeight, slowBarLeft(frame), SlowTop, BarWidth, SlowHeight, White);

    char counter[32];
    std::snprintf(counter, sizeof counter, "FRAME %08llu", static_cast<unsigned long long>(frame));
    DrawText(pixels, MaxWidth, MaxHeight, Margin, CounterTop, TextScale, counter, White);

    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm local{};
    localtime_r(&seconds, &local);
    char clock[32];
    std::snprintf(clock, sizeof clock, "%02d:%02d:%02d.%03lld", local.tm_hour, local.tm_min, local.tm_sec,
                  static_cast<long long>(millis));
    FillRect(pixels, MaxWidth, MaxHeight, Margin - 4, ClockTop - 4, TextWidth(13, TextScale),
             8 * TextScale + 2, Black);
    DrawText(pixels, MaxWidth, MaxHeight, Margin, ClockTop, TextScale, clock, palette.accent);
}

}  // namespace kesmacap
