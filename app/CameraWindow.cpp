#include "app/CameraWindow.h"

#include <QCloseEvent>
#include <QImage>
#include <QPaintEvent>
#include <QPainter>
#include <algorithm>

#include "app/QuadviewApplication.h"

CameraView::CameraView(X11Display* display, QWidget* parent) : QWidget(parent) {
    // Every pixel is painted below, picture or face: Qt need not fill the
    // background first nor repaint the windows underneath at each frame.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
    if (display != nullptr) {
        // A window of its own that Qt leaves alone: the pictures reach it from
        // the live view's connection, and an exposure is answered from there too.
        native_ = std::make_unique<X11Window>(*display, SurfaceWidth, SurfaceHeight);
        setAttribute(Qt::WA_NativeWindow);
        setAttribute(Qt::WA_PaintOnScreen);
        return;
    }
    surface_ = std::make_unique<WindowSurface>(SurfaceWidth, SurfaceHeight, [this] {
        // Any thread: only post. A view destroyed meanwhile drops the call.
        QMetaObject::invokeMethod(this, &CameraView::takeRepaint, Qt::QueuedConnection);
    });
}

HWND CameraView::drawable() {
    if (native_) {
        return native_.get();
    }
    return surface_.get();
}

QPaintEngine* CameraView::paintEngine() const {
    return native_ ? nullptr : QWidget::paintEngine();
}

bool CameraView::event(QEvent* event) {
    if (native_ && (event->type() == QEvent::WinIdChange || event->type() == QEvent::Show)) {
        followNativeWindow();
    }
    return QWidget::event(event);
}

void CameraView::followNativeWindow() {
    native_->setWindow(static_cast<xcb_window_t>(internalWinId()));
    native_->setFace(palette().window().color().rgb() & 0xFFFFFFu);
}

void CameraView::takeRepaint() {
    surface_->repaintTaken();
    update();
}

void CameraView::paintEvent(QPaintEvent* event) {
    if (native_) {
        followNativeWindow();
        for (const QRect& rect : event->region()) {
            native_->expose(X11Window::Area{rect.x(), rect.y(), rect.width(), rect.height()});
        }
        return;
    }
    paintSurface(event->rect());
}

void CameraView::paintSurface(const QRect& exposed) {
    QPainter painter(this);
    QRect picture;
    surface_->read([&](const std::uint32_t* pixels, WindowSurface::Extent drawn) {
        picture = QRect(0, 0, std::min(drawn.width, width()), std::min(drawn.height, height()));
        const QRect shown = picture.intersected(exposed);
        if (shown.isEmpty()) {
            return;
        }
        // Wraps the surface's memory without copying; it is painted under the surface's lock.
        const QImage image(reinterpret_cast<const uchar*>(pixels), drawn.width, drawn.height,
                           surface_->stride(), QImage::Format_RGB32);
        painter.drawImage(shown.topLeft(), image, shown);
    });
    // The face where nothing was drawn yet.
    const QRegion face = QRegion(exposed) - QRegion(picture);
    for (const QRect& rect : face) {
        painter.fillRect(rect, palette().window());
    }
}

CameraWindow::CameraWindow(const QString& caption) {
    X11Display* const display = QuadviewApplication::liveDisplay();
    if (display != nullptr) {
        // Native too, so that overlapping camera windows clip each other's pictures.
        setAttribute(Qt::WA_NativeWindow);
    }
    auto view = std::make_unique<CameraView>(display);
    view_ = view.get();
    setWidget(view.release());  // the window owns its view from here
    setWindowTitle(caption);
    setObjectName(caption);
    setAttribute(Qt::WA_DeleteOnClose, false);
    resize(DesignedWidth, DesignedHeight);
}

void CameraWindow::closeEvent(QCloseEvent* event) {
    event->ignore();
    showMinimized();
}
