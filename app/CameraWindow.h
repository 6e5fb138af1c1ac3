#pragma once

#include "app/Design.h"

#include <QMdiSubWindow>
#include <QWidget>
#include <memory>

#include "platform/Win32.h"
#include "platform/WindowSurface.h"

// The client area of a camera window: paints its window surface 1:1 at the
// top-left, and the window's face where nothing was drawn yet.
class CameraView final : public QWidget {
  public:
    static constexpr int SurfaceWidth = 640;
    static constexpr int SurfaceHeight = 480;

    explicit CameraView(QWidget* parent = nullptr);

    WindowSurface& surface() { return *surface_; }
    // The whole picture, so arrangements that size by hint (cascade) show it.
    QSize sizeHint() const override { return {SurfaceWidth, SurfaceHeight}; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    void takeRepaint();

    std::unique_ptr<WindowSurface> surface_;
};

// A multiple-document child showing one channel. Its close box minimises it.
class CameraWindow : public QMdiSubWindow {
  public:
    static constexpr int DesignedWidth = QUADVIEW_CAMERA_WIDTH;
    static constexpr int DesignedHeight = QUADVIEW_CAMERA_HEIGHT;

    explicit CameraWindow(const QString& caption);

    // The handle the live view draws through.
    HWND windowHandle() { return &view_->surface(); }
    CameraView& view() { return *view_; }

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    CameraView* view_ = nullptr;
};
