#include "kesmacap/gstreamer/StatusPicture.h"

#include <string_view>
#include <vector>

#include "kesmacap/pictures/Lettering.h"
#include "kesmacap/pictures/Picture.h"

namespace kesmacap {

namespace {

constexpr std::uint32_t Background = 0x101820;
constexpr std::uint32_t Band = 0x2A3442;
constexpr std::uint32_t Title = 0xFFFFFF;
constexpr std::uint32_t Reason = 0xFFC640;
constexpr std::uint32_t Detail = 0xB8C2CC;
constexpr int Margin = 12;
// A tiled camera window shows about this much of the picture's top left: what
// matters is said there, and the rest goes on below and to the right.
constexpr int TileWidth = 340;

// Breaks text into lines of at most `columns` characters, at spaces where it can.
std::vector<std::string> wrap(std::string_view text, std::size_t columns) {
    std::vector<std::string> lines;
    while (text.size() > columns) {
        std::size_t cut = text.rfind(' ', columns);
        if (cut == std::string_view::npos || cut == 0) {
            cut = columns;
        }
        lines.emplace_back(text.substr(0, cut));
        text = text.substr(cut);
        if (!text.empty() && text.front() == ' ') {
            text.remove_prefix(1);
        }
    }
    lines.emplace_back(text);
    return lines;
}

int drawLines(std::uint8_t* pixels, int y, int scale, std::string_view text, std::uint32_t rgb) {
    const auto columns = static_cast<std::size_t>((TileWidth - 2 * Margin) / TextWidth(1, scale));
    for (const std::string& line : wrap(text, columns)) {
        DrawText(pixels, MaxWidth, MaxHeight, Margin, y, scale, line, rgb);
        y += 10 * scale;
    }
    return y;
}

}  // namespace

void DrawStatusPicture(std::uint8_t* pixels, int channel, const std::string& reason,
                       const std::string& source) {
    FillRect(pixels, MaxWidth, MaxHeight, 0, 0, MaxWidth, MaxHeight, Background);
    DrawText(pixels, MaxWidth, MaxHeight, Margin, Margin, 4, "CAMERA" + std::to_string(channel + 1), Title);
    FillRect(pixels, MaxWidth, MaxHeight, 0, 52, MaxWidth, 2, Band);
    const int below = drawLines(pixels, 64, 2, reason, Reason);
    drawLines(pixels, below + 8, 1, source, Detail);
}

}  // namespace kesmacap
