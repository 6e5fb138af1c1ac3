#pragma once

#include "app/Design.h"

#include <QMdiSubWindow>
#include <QWidget>
#include <memory>

#include "platform/Win32.h"
#include "platform/screen/WindowSurface.h"
#include "platform/screen/X11Window.h"

// The client area of a camera window: shows its picture 1:1 at the top-left,
// and the window's face where nothing was drawn yet. Given a display, it is a
// native X window the worker puts pictures into itself; otherwise the worker
// draws into a window surface that this widget paints.
class CameraView final : public QWidget {
  public:
    static constexpr int SurfaceWidth = 640;
    static constexpr int SurfaceHeight = 480;

    explicit CameraView(X11Display* display, QWidget* parent = nullptr);

    // What the live view draws into.
    HWND drawable();
    // The whole picture, so arrangements that size by hint (cascade) show it.
    QSize sizeHint() const override { return {SurfaceWidth, SurfaceHeight}; }
    // None on the native path: the pictures do not go through the toolkit.
    QPaintEngine* paintEngine() const override;

  protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

  private:
    void takeRepaint();
    void paintSurface(const QRect& exposed);
    void followNativeWindow();

    std::unique_ptr<WindowSurface> surface_;
    std::unique_ptr<X11Window> native_;
};

// A multiple-document child showing one channel. Its close box minimises it.
class CameraWindow : public QMdiSubWindow {
  public:
    static constexpr int DesignedWidth = QUADVIEW_CAMERA_WIDTH;
    static constexpr int DesignedHeight = QUADVIEW_CAMERA_HEIGHT;

    explicit CameraWindow(const QString& caption);

    // The handle the live view draws through.
    HWND windowHandle() { return view_->drawable(); }
    CameraView& view() { return *view_; }

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    CameraView* view_ = nullptr;
};
