#include "app/win32/Camera.h"

#include <array>

#include "app/Design.h"

namespace {

constexpr std::array<const wchar_t*, ChannelCount> ClassNames{L"TCamera1", L"TCamera2", L"TCamera3",
                                                              L"TCamera4"};
constexpr std::array<const wchar_t*, ChannelCount> Captions{
    L"" QUADVIEW_CAMERA1_CAPTION, L"" QUADVIEW_CAMERA2_CAPTION, L"" QUADVIEW_CAMERA3_CAPTION,
    L"" QUADVIEW_CAMERA4_CAPTION};

LRESULT CALLBACK cameraProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_CLOSE) {
        // An MDI child's close box minimises it; "非重疊" brings it back.
        ShowWindow(window, SW_MINIMIZE);
        return 0;
    }
    return DefMDIChildProcW(window, message, wParam, lParam);
}

}  // namespace

void RegisterCameraClasses(HINSTANCE instance) {
    for (const wchar_t* name : ClassNames) {
        WNDCLASSEXW windowClass{};
        windowClass.cbSize = sizeof windowClass;
        windowClass.style = CS_HREDRAW | CS_VREDRAW;
        windowClass.lpfnWndProc = cameraProcedure;
        windowClass.hInstance = instance;
        windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(QUADVIEW_ICON));
        windowClass.lpszClassName = name;
        RegisterClassExW(&windowClass);
    }
}

HWND CreateCamera(HWND mdiClient, HINSTANCE instance, ChannelIndex channel) {
    // Clipped by its siblings, so a frame drawn into it never paints over an overlapping camera.
    return CreateMDIWindowW(ClassNames[channel], Captions[channel],
                            WS_VISIBLE | WS_CLIPSIBLINGS | WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                            QUADVIEW_CAMERA_WIDTH, QUADVIEW_CAMERA_HEIGHT, mdiClient, instance, 0);
}
