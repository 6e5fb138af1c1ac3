#include "app/win32/Unit1.h"

#include <exception>
#include <stdexcept>
#include <utility>

#include "app/Design.h"
#include "app/Startup.h"
#include "app/win32/Camera.h"
#include "platform/text/Text.h"

template <typename Handler>
void TForm1::guard(Handler&& handler) {
    GuardHandler(
        [this](const std::string& message) {
            MessageBoxW(window_, Widen(message).c_str(), L"quadview", MB_OK | MB_ICONERROR);
        },
        std::forward<Handler>(handler));
}

void TForm1::Register(HINSTANCE instance) {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(QUADVIEW_ICON));
    windowClass.hIconSm = static_cast<HICON>(
        LoadImageW(instance, MAKEINTRESOURCEW(QUADVIEW_ICON), IMAGE_ICON, 16, 16, LR_DEFAULTCOLOR));
    windowClass.lpszMenuName = MAKEINTRESOURCEW(QUADVIEW_MENU);
    windowClass.lpszClassName = ClassName;
    RegisterClassExW(&windowClass);
    RegisterCameraClasses(instance);
}

TForm1::TForm1(HINSTANCE instance, const CaptureLibrary& capture)
    : instance_(instance),
      commands_(capture, *this),
      accelerators_(LoadAcceleratorsW(instance, MAKEINTRESOURCEW(QUADVIEW_ACCELERATORS))) {
    // Hidden until Run shows it; WM_CREATE makes the MDI client and runs FormCreate.
    window_ = CreateWindowExW(0, ClassName, L"" QUADVIEW_FORM1_CAPTION, WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN,
                              QUADVIEW_FORM1_LEFT, QUADVIEW_FORM1_TOP, QUADVIEW_FORM1_WIDTH,
                              QUADVIEW_FORM1_HEIGHT, nullptr, nullptr, instance, this);
    if (window_ == nullptr) {
        throw std::runtime_error("cannot create the window Form1");
    }
    SavePictureDialog1 = Win32SavePictureDialog(window_);
}

TForm1::~TForm1() {
    Destroy();
}

void TForm1::AddCamera() {
    if (cameraCount_ < ChannelCount) {
        cameras_[cameraCount_] = CreateCamera(client_, instance_, cameraCount_);
        ++cameraCount_;
    }
}

int TForm1::Run(int show) {
    ShowWindow(window_, show);
    UpdateWindow(window_);
    MSG message;
    BOOL got = 0;
    while ((got = GetMessageW(&message, nullptr, 0, 0)) > 0) {
        if (TranslateMDISysAccel(client_, &message) ||
            TranslateAcceleratorW(window_, accelerators_, &message)) {
            continue;
        }
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return got < 0 ? 1 : static_cast<int>(message.wParam);
}

void TForm1::Destroy() {
    if (destroyed_) {
        return;
    }
    destroyed_ = true;
    guard([this] { FormDestroy(); });
    DestroyWindow(window_);
}

LRESULT CALLBACK TForm1::procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* const create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* const form = reinterpret_cast<TForm1*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (form == nullptr) {
        return DefFrameProcW(window, nullptr, message, wParam, lParam);
    }
    if (message == WM_NCCREATE) {
        form->window_ = window;
    }
    return form->handle(message, wParam, lParam);
}

LRESULT TForm1::defaultHandling(UINT message, WPARAM wParam, LPARAM lParam) {
    return DefFrameProcW(window_, client_, message, wParam, lParam);
}

LRESULT TForm1::handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE: {
            CLIENTCREATESTRUCT client{};
            client.idFirstChild = 0xFF00;  // no window list menu
            client_ = CreateWindowExW(WS_EX_CLIENTEDGE, L"MDICLIENT", nullptr,
                                      WS_CHILD | WS_CLIPCHILDREN | WS_VSCROLL | WS_HSCROLL | WS_VISIBLE, 0, 0,
                                      0, 0, window_, nullptr, instance_, &client);
            if (client_ == nullptr) {
                return -1;
            }
            // The frame's button face behind the cameras too, not the workspace grey.
            SetClassLongPtrW(client_, GCLP_HBRBACKGROUND, static_cast<LONG_PTR>(COLOR_BTNFACE + 1));
            guard([this] { FormCreate(); });
            return 0;
        }
        case WM_SHOWWINDOW:
            if (wParam != FALSE && !shown_) {
                shown_ = true;
                // After the show itself, as a form's show handler runs.
                PostMessageW(window_, WM_APP, 0, 0);
            }
            break;
        case WM_APP:
            guard([this] { FormShow(); });
            return 0;
        case WM_COMMAND:
            if (HIWORD(wParam) <= 1) {
                command(LOWORD(wParam));
            }
            break;
        case WM_CLOSE:
            // The close box ends the loop; FormDestroy follows it, as after F2.
            PostQuitMessage(0);
            return 0;
        default:
            break;
    }
    return defaultHandling(message, wParam, lParam);
}

void TForm1::command(WORD id) {
    // "瀏覽" (N9) has no handler: choosing it does nothing.
    static constexpr std::pair<WORD, void (TForm1::*)()> Handlers[] = {{QUADVIEW_ID_N2, &TForm1::N2Click},
                                                                       {QUADVIEW_ID_N3, &TForm1::N3Click},
                                                                       {QUADVIEW_ID_N5, &TForm1::N5Click},
                                                                       {QUADVIEW_ID_N6, &TForm1::N6Click},
                                                                       {QUADVIEW_ID_N8, &TForm1::N8Click}};
    for (const auto& [handled, handler] : Handlers) {
        if (handled == id) {
            guard([this, handler = handler] { (this->*handler)(); });
        }
    }
}

void TForm1::FormCreate() {
    commands_.FormCreate();
}

void TForm1::FormShow() {
    commands_.FormShow();
}

void TForm1::N2Click() {
    commands_.N2Click();
}

void TForm1::N3Click() {
    commands_.N3Click();
}

void TForm1::N5Click() {
    commands_.N5Click();
}

void TForm1::N6Click() {
    commands_.N6Click();
}

void TForm1::N8Click() {
    commands_.N8Click(SavePictureDialog1);
}

void TForm1::FormDestroy() {
    commands_.FormDestroy();
}

void TForm1::tileCameras() {
    SendMessageW(client_, WM_MDITILE, MDITILE_HORIZONTAL, 0);
}

void TForm1::cascadeCameras() {
    SendMessageW(client_, WM_MDICASCADE, 0, 0);
}

void TForm1::restoreCameras() {
    for (const HWND camera : cameras_) {
        if (camera != nullptr) {
            SendMessageW(client_, WM_MDIRESTORE, reinterpret_cast<WPARAM>(camera), 0);
        }
    }
}

void TForm1::closeFrame() {
    PostQuitMessage(0);
}

void TForm1::showWarning(const std::string& title, const std::string& message) {
    MessageBoxW(window_, Widen(message).c_str(), Widen(title).c_str(), MB_OK | MB_ICONWARNING);
}
