#pragma once

#include <windows.h>

#include <array>
#include <memory>

#include "app/ChannelCommands.h"
#include "app/win32/Win32SavePictureDialog.h"
#include "capture/CaptureLibrary.h"

// The frame window: an MDI frame holding the four camera windows, with the menu.
class TForm1 final : private ShellWindows {
  public:
    static constexpr const wchar_t* ClassName = L"TForm1";
    static void Register(HINSTANCE instance);

    // Creates the window; FormCreate runs while it is created.
    TForm1(HINSTANCE instance, const CaptureLibrary& capture);
    ~TForm1() override;
    TForm1(const TForm1&) = delete;
    TForm1& operator=(const TForm1&) = delete;

    // Adds the next camera window, Camera1 first, as an MDI child.
    void AddCamera();
    // Shows the window (FormShow runs) and runs the message loop until it closes.
    int Run(int show);
    // The end of the program, after the loop: FormDestroy, while the camera
    // windows still exist, then the windows go.
    void Destroy();

    HWND Handle() const { return window_; }
    HWND MdiClient() const { return client_; }
    HWND Camera(ChannelIndex channel) const { return cameras_.at(channel); }

    void FormCreate();
    void FormShow();
    void FormDestroy();
    void N2Click();
    void N3Click();
    void N5Click();
    void N6Click();
    void N8Click();

  private:
    static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam);
    void command(WORD id);
    LRESULT defaultHandling(UINT message, WPARAM wParam, LPARAM lParam);
    // Runs a handler; an exception it throws is shown in a message box.
    template <typename Handler>
    void guard(Handler&& handler);

    CameraWindows cameraWindows() const override { return cameras_; }
    void tileCameras() override;
    void cascadeCameras() override;
    void restoreCameras() override;
    void closeFrame() override;
    void showWarning(const std::string& title, const std::string& message) override;

    HINSTANCE instance_;
    ChannelCommands commands_;
    HWND window_ = nullptr;
    HWND client_ = nullptr;
    HACCEL accelerators_ = nullptr;
    std::array<HWND, ChannelCount> cameras_{};
    ChannelIndex cameraCount_ = 0;
    bool shown_ = false;
    bool destroyed_ = false;
    Win32SavePictureDialog SavePictureDialog1{nullptr};
};
