#pragma once

#include <QMainWindow>
#include <QMdiArea>
#include <QMenu>
#include <array>
#include <memory>

#include "app/CameraWindow.h"
#include "app/ChannelCommands.h"
#include "app/QtSavePictureDialog.h"
#include "capture/CaptureLibrary.h"

// The frame window: holds the four camera windows and the menu.
class TForm1 final : public QMainWindow, private ShellWindows {
  public:
    // Opens channels 0-3 while it is created.
    explicit TForm1(const CaptureLibrary& capture);
    // Stops, flags and closes the channels and releases the live view, while
    // the camera windows still exist.
    ~TForm1() override;

    // Adds the next camera window, Camera1 first; the area owns it.
    void AddCamera(std::unique_ptr<CameraWindow> camera);
    CameraWindow* Camera(ChannelIndex channel) const { return cameras_.at(channel); }

    QMdiArea* MdiArea = nullptr;
    QtSavePictureDialog SavePictureDialog1;
    QMenu* N1 = nullptr;
    QAction* N2 = nullptr;
    QAction* N3 = nullptr;
    QMenu* N4 = nullptr;
    QAction* N5 = nullptr;
    QAction* N6 = nullptr;
    QMenu* N7 = nullptr;
    QAction* N8 = nullptr;
    QAction* N9 = nullptr;

    void FormCreate();
    void FormShow();
    void FormDestroy();
    void N2Click();
    void N3Click();
    void N5Click();
    void N6Click();
    void N8Click();

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void buildMenu();
    void applyDesignedLook();

    CameraWindows cameraWindows() const override;
    void tileCameras() override;
    void cascadeCameras() override;
    void restoreCameras() override;
    void closeFrame() override;
    void showWarning(const std::string& title, const std::string& message) override;

    ChannelCommands commands_;
    std::array<CameraWindow*, ChannelCount> cameras_{};
    ChannelIndex cameraCount_ = 0;
    bool placed_ = false;
};
