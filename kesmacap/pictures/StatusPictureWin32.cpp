// The status picture drawn by GDI: the Linux picture's layout and colours,
// its text through the system's fonts (font linking gives other scripts).
#include <windows.h>

#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <type_traits>

#include "kesmacap/pictures/Picture.h"
#include "kesmacap/pictures/StatusPicture.h"
#include "platform/text/Text.h"

namespace kesmacap {

namespace {

constexpr COLORREF Background = RGB(0x10, 0x18, 0x20);
constexpr COLORREF Band = RGB(0x2A, 0x34, 0x42);
constexpr COLORREF Title = RGB(0xFF, 0xFF, 0xFF);
constexpr COLORREF Reason = RGB(0xFF, 0xC6, 0x40);
constexpr COLORREF Detail = RGB(0xB8, 0xC2, 0xCC);
constexpr int Margin = 12;
// A tiled camera window shows about this much of the picture's top left: what
// matters is said there, and the rest goes on below.
constexpr int TileWidth = 340;

struct DcFree {
    void operator()(HDC dc) const { DeleteDC(dc); }
};
struct ObjectFree {
    void operator()(HGDIOBJ object) const { DeleteObject(object); }
};
using MemoryDc = std::unique_ptr<std::remove_pointer_t<HDC>, DcFree>;
using Object = std::unique_ptr<std::remove_pointer_t<HGDIOBJ>, ObjectFree>;

// Selects an object into a DC for a scope, putting the previous one back.
class Selected {
  public:
    Selected(HDC dc, HGDIOBJ object) : dc_(dc), previous_(SelectObject(dc, object)) {}
    ~Selected() { SelectObject(dc_, previous_); }
    Selected(const Selected&) = delete;
    Selected& operator=(const Selected&) = delete;

  private:
    HDC dc_;
    HGDIOBJ previous_;
};

Object font(int pixels, int weight, const wchar_t* face) {
    return Object(CreateFontW(-pixels, 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_TT_PRECIS,
                              CLIP_DEFAULT_PRECIS, ANTIALIASED_QUALITY, DEFAULT_PITCH, face));
}

// Writes UTF-8 text (invalid bytes as U+FFFD) wrapped to `width` pixels; returns the y below it.
int drawText(HDC dc, int y, HGDIOBJ textFont, std::string_view text, COLORREF colour,
             int width = TileWidth - 2 * Margin) {
    const std::wstring wide = Widen(text);
    const Selected selected(dc, textFont);
    SetTextColor(dc, colour);
    RECT box{Margin, y, Margin + width, MaxHeight};
    const UINT format = DT_LEFT | DT_TOP | DT_WORDBREAK | DT_EDITCONTROL | DT_NOPREFIX;
    // DT_EDITCONTROL breaks a word longer than the line (a URI) where it must.
    DrawTextW(dc, wide.c_str(), static_cast<int>(wide.size()), &box, format | DT_CALCRECT);
    box.right = Margin + width;
    DrawTextW(dc, wide.c_str(), static_cast<int>(wide.size()), &box, format);
    return box.bottom;
}

}  // namespace

void DrawStatusPicture(std::uint8_t* pixels, int channel, std::string_view reason, std::string_view source) {
    // One picture at a time, as on Linux: the process's count of GDI objects stays small.
    static std::mutex drawing;
    const std::lock_guard lock(drawing);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = MaxWidth;
    info.bmiHeader.biHeight = -MaxHeight;  // top-down, as the frame
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    const MemoryDc dc(CreateCompatibleDC(nullptr));
    const Object bitmap(CreateDIBSection(dc.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!dc || !bitmap || bits == nullptr) {
        // No GDI resources left: a plain dark picture still says "no video".
        for (std::size_t i = 0; i < MaxFrameBytes; i += BytesPerPixel) {
            pixels[i] = GetBValue(Background);
            pixels[i + 1] = GetGValue(Background);
            pixels[i + 2] = GetRValue(Background);
        }
        return;
    }
    {
        const Selected selected(dc.get(), bitmap.get());
        const Object background(CreateSolidBrush(Background));
        const Object band(CreateSolidBrush(Band));
        const RECT all{0, 0, MaxWidth, MaxHeight};
        FillRect(dc.get(), &all, static_cast<HBRUSH>(background.get()));
        SetBkMode(dc.get(), TRANSPARENT);
        const Object titleFont = font(24, FW_BOLD, L"Tahoma");
        const Object reasonFont = font(17, FW_NORMAL, L"Tahoma");
        const Object detailFont = font(11, FW_NORMAL, L"Courier New");
        drawText(dc.get(), 8, titleFont.get(), "Camera" + std::to_string(channel + 1), Title, MaxWidth);
        const RECT line{0, 52, MaxWidth, 54};
        FillRect(dc.get(), &line, static_cast<HBRUSH>(band.get()));
        const int below = drawText(dc.get(), 64, reasonFont.get(), reason, Reason);
        drawText(dc.get(), below + 8, detailFont.get(), source, Detail);
        GdiFlush();
    }
    // A 24-bit DIB's rows are B, G, R, each padded to four bytes: 640 pixels need none.
    static_assert(MaxWidth * BytesPerPixel % 4 == 0);
    std::memcpy(pixels, bits, MaxFrameBytes);
}

}  // namespace kesmacap
