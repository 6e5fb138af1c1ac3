// A memory context holding a fresh 24-bit DIB section (top-down when height
// is negative), released at the end: the staging bitmap of the tests,
// fuzzers and benchmarks, on Linux and Windows alike.
#pragma once

#include "platform/Win32.h"

namespace testing_support {

class StagingBitmap {
  public:
    StagingBitmap(HDC compatibleWith, LONG width, LONG height) : dc(CreateCompatibleDC(compatibleWith)) {
        BITMAPINFO info{};
        info.bmiHeader =
            BITMAPINFOHEADER{sizeof(BITMAPINFOHEADER), width, height, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
        void* memory = nullptr;
        bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &memory, nullptr, 0);
        bits = static_cast<BYTE*>(memory);
        SelectObject(dc, bitmap);
    }
    ~StagingBitmap() {
        DeleteDC(dc);
        DeleteObject(bitmap);
    }
    StagingBitmap(const StagingBitmap&) = delete;
    StagingBitmap& operator=(const StagingBitmap&) = delete;

    HDC dc;
    HBITMAP bitmap = nullptr;
    BYTE* bits = nullptr;  // null when the section could not be made
};

}  // namespace testing_support
