#include <windows.h>

#include <array>

#include "tests/support/TestCameras.h"

namespace testing_support {

namespace {

// A colour no test frame uses: what a window shows until it is drawn into.
constexpr COLORREF Untouched = RGB(0x12, 0x34, 0x56);

// Paints nothing itself: whatever the live view drew stays until it draws again.
LRESULT CALLBACK cameraProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_ERASEBKGND:
            return 1;
        case WM_PAINT: {
            PAINTSTRUCT paint;
            BeginPaint(window, &paint);
            EndPaint(window, &paint);
            return 0;
        }
        default:
            return DefWindowProcW(window, message, wParam, lParam);
    }
}

const wchar_t* registerClass() {
    static const wchar_t* const name = [] {
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = cameraProcedure;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"QuadviewTestCamera";
        RegisterClassW(&windowClass);
        return windowClass.lpszClassName;
    }();
    return name;
}

// One visible top-level window for the whole run, made on first use: a
// top-level window takes seconds to go under Wine without a window manager,
// children go at once.
HWND screen() {
    static const HWND window =
        CreateWindowExW(WS_EX_TOOLWINDOW, registerClass(), L"", WS_POPUP | WS_VISIBLE, 0, 0, 2 * 640, 2 * 480,
                        nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    return window;
}

void pumpMessages() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        DispatchMessageW(&message);
    }
}

}  // namespace

struct TestCameras::Windows {
    std::array<HWND, ChannelCount> handles{};
};

TestCameras::TestCameras() : windows_(std::make_unique<Windows>()) {
    // Side by side and on screen, so every pixel is visible and can be read back.
    for (int channel = 0; channel < ChannelCount; ++channel) {
        const HWND window = CreateWindowExW(0, registerClass(), L"", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS,
                                            (channel % 2) * 640, (channel / 2) * 480, 640, 480, screen(),
                                            nullptr, GetModuleHandleW(nullptr), nullptr);
        windows_->handles[channel] = window;
        UpdateWindow(window);
        const HDC dc = GetDC(window);
        const HBRUSH brush = CreateSolidBrush(Untouched);
        const RECT area{0, 0, 640, 480};
        FillRect(dc, &area, brush);
        DeleteObject(brush);
        ReleaseDC(window, dc);
    }
    pumpMessages();
}

TestCameras::~TestCameras() {
    for (const HWND window : windows_->handles) {
        DestroyWindow(window);
    }
    pumpMessages();
}

CameraWindows TestCameras::handles() const {
    return windows_->handles;
}

std::uint32_t TestCameras::at(ChannelIndex channel, int x, int y) const {
    const HWND window = windows_->handles[channel];
    const HDC dc = GetDC(window);
    const COLORREF colour = GetPixel(dc, x, y);
    ReleaseDC(window, dc);
    return 0xFF000000u | static_cast<std::uint32_t>(GetRValue(colour)) << 16 |
           static_cast<std::uint32_t>(GetGValue(colour)) << 8 | GetBValue(colour);
}

bool TestCameras::drawn(ChannelIndex channel) const {
    const HWND window = windows_->handles[channel];
    const HDC dc = GetDC(window);
    const bool corners = GetPixel(dc, 0, 0) != Untouched && GetPixel(dc, 639, 479) != Untouched;
    ReleaseDC(window, dc);
    return corners;
}

}  // namespace testing_support
