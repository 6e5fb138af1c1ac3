// Win32 GDI over window targets: memory contexts holding 24-bit DIB sections,
// window contexts, and the block transfer from one to the other.
#include <algorithm>
#include <cstdlib>
#include <limits>
#include <memory>

#include "platform/DrawableWindow.h"
#include "platform/Win32.h"
#include "platform/linux/GdiObjects.h"

DibSection::DibSection(int width, int height, bool topDown)
    : width_(width),
      height_(height),
      topDown_(topDown),
      stride_(strideFor(width)),
      bits_(std::make_unique<BYTE[]>(stride_ * static_cast<std::size_t>(height))) {}

const BYTE* DibSection::row(int y) const {
    const int memoryRow = topDown_ ? y : height_ - 1 - y;
    return bits_.get() + stride_ * static_cast<std::size_t>(memoryRow);
}

MemoryDeviceContext::~MemoryDeviceContext() {
    if (bitmap != nullptr) {
        bitmap->selectedInto = nullptr;
    }
}

HDC GetDC(HWND window) {
    if (window == nullptr) {
        return nullptr;
    }
    return std::make_unique<WindowDeviceContext>(*window).release();
}

int ReleaseDC(HWND /*window*/, HDC dc) {
    if (dynamic_cast<WindowDeviceContext*>(dc) == nullptr) {
        return 0;
    }
    const std::unique_ptr<DeviceContext> owned(dc);
    return 1;
}

HDC CreateCompatibleDC(HDC /*dc*/) {
    return std::make_unique<MemoryDeviceContext>().release();
}

BOOL DeleteDC(HDC dc) {
    // Window contexts go back with ReleaseDC, as on Windows.
    if (dynamic_cast<MemoryDeviceContext*>(dc) == nullptr) {
        return FALSE;
    }
    const std::unique_ptr<DeviceContext> owned(dc);
    return TRUE;
}

HBITMAP CreateDIBSection(HDC /*dc*/, const BITMAPINFO* info, UINT usage, void** bits, HANDLE section,
                         DWORD offset) {
    if (bits != nullptr) {
        *bits = nullptr;
    }
    if (info == nullptr || usage != DIB_RGB_COLORS || section != nullptr || offset != 0) {
        return nullptr;
    }
    const BITMAPINFOHEADER& header = info->bmiHeader;
    // Bounds keep the byte count far from overflow and from absurd allocations.
    constexpr LONG maxSide = 16384;
    const LONG height = header.biHeight == std::numeric_limits<LONG>::min() ? 0 : std::abs(header.biHeight);
    if (header.biSize < sizeof(BITMAPINFOHEADER) || header.biWidth <= 0 || header.biWidth > maxSide ||
        height == 0 || height > maxSide || header.biPlanes != 1 || header.biBitCount != 24 ||
        header.biCompression != BI_RGB) {
        return nullptr;
    }
    auto bitmap = std::make_unique<DibSection>(header.biWidth, height, header.biHeight < 0);
    if (bits != nullptr) {
        *bits = bitmap->bits();
    }
    return bitmap.release();
}

HGDIOBJ SelectObject(HDC dc, HGDIOBJ object) {
    auto* const memory = dynamic_cast<MemoryDeviceContext*>(dc);
    auto* const bitmap = static_cast<DibSection*>(object);
    if (memory == nullptr || bitmap == nullptr ||
        (bitmap->selectedInto != nullptr && bitmap->selectedInto != memory)) {
        return nullptr;
    }
    DibSection* const previous = memory->bitmap;
    if (previous != nullptr) {
        previous->selectedInto = nullptr;
    }
    memory->bitmap = bitmap;
    bitmap->selectedInto = memory;
    return previous;
}

BOOL DeleteObject(HGDIOBJ object) {
    auto* const bitmap = static_cast<DibSection*>(object);
    // As on Windows, a bitmap still selected into a context cannot be deleted.
    if (bitmap == nullptr || bitmap->selectedInto != nullptr) {
        return FALSE;
    }
    const std::unique_ptr<DibSection> owned(bitmap);
    return TRUE;
}

BOOL BitBlt(HDC destination, int x, int y, int width, int height, HDC source, int sourceX, int sourceY,
            DWORD rop) {
    auto* const target = dynamic_cast<WindowDeviceContext*>(destination);
    auto* const memory = dynamic_cast<MemoryDeviceContext*>(source);
    if (target == nullptr || memory == nullptr || rop != SRCCOPY) {
        return FALSE;
    }
    const DibSection* const bitmap = memory->bitmap;
    if (bitmap == nullptr) {
        return FALSE;
    }
    DrawableWindow& window = target->window;
    // Clip the rectangle against the source bitmap and the destination window,
    // moving both origins together so every pixel keeps its partner.
    long long left = 0;
    long long top = 0;
    long long right = width;
    long long bottom = height;
    left = std::max({left, -static_cast<long long>(x), -static_cast<long long>(sourceX)});
    top = std::max({top, -static_cast<long long>(y), -static_cast<long long>(sourceY)});
    right = std::min({right, static_cast<long long>(window.width()) - x,
                      static_cast<long long>(bitmap->width()) - sourceX});
    bottom = std::min({bottom, static_cast<long long>(window.height()) - y,
                       static_cast<long long>(bitmap->height()) - sourceY});
    if (right <= left || bottom <= top) {
        return TRUE;
    }
    const int firstRow = static_cast<int>(sourceY + top);
    BgrBlock block;
    block.firstRow = bitmap->row(firstRow) + 3 * (sourceX + left);
    block.stride = bottom - top > 1 ? bitmap->row(firstRow + 1) - bitmap->row(firstRow) : 0;
    block.x = static_cast<int>(x + left);
    block.y = static_cast<int>(y + top);
    block.width = static_cast<int>(right - left);
    block.height = static_cast<int>(bottom - top);
    window.draw(block);
    return TRUE;
}
