// What the frame window's handlers do, written once for both shells over the
// little each shell does its own way.
#pragma once

#include <string>

#include "capture/CaptureLibrary.h"
#include "liveview/LiveView.h"
#include "save/SavePictureDialog.h"

// The frame window as the commands need it: its camera windows and the
// window manager's operations, which each shell implements.
class ShellWindows {
  public:
    virtual ~ShellWindows() = default;
    // Camera1 ... Camera4's windows, null where one does not exist yet.
    virtual CameraWindows cameraWindows() const = 0;
    // Side by side (the framework's default, horizontal), and overlapping.
    virtual void tileCameras() = 0;
    virtual void cascadeCameras() = 0;
    // Brings minimised or maximised camera windows back to their normal size.
    virtual void restoreCameras() = 0;
    // Closes the frame window, which ends the message loop.
    virtual void closeFrame() = 0;
    virtual void showWarning(const std::string& title, const std::string& message) = 0;
};

class ChannelCommands {
  public:
    // Both outlive the commands.
    ChannelCommands(const CaptureLibrary& capture, ShellWindows& shell) : capture_(capture), shell_(shell) {}

    // Opens channels 0-3 in order; capture mode 0.
    void FormCreate();
    void FormShow();
    // Stops, flags 0 and closes each channel in order, then releases the live
    // view (its worker is stopped first), while the camera windows still exist.
    void FormDestroy();
    // "攝影機拍攝" (F1): starts, or restarts, the live view.
    void N2Click();
    // "離開程式" (F2): closes channels 0-3 in order, then the frame window.
    void N3Click();
    // "非重疊": tiles, and brings every camera window back.
    void N5Click();
    // "重疊": cascades.
    void N6Click();
    // "儲存": has the library save every channel's picture under a name the
    // dialog asks for; pictures that could not be written are named in a warning.
    void N8Click(SavePictureDialog& dialog);

  private:
    const CaptureLibrary& capture_;
    ShellWindows& shell_;
};
