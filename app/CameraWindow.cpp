#include "app/CameraWindow.h"

#include <QCloseEvent>
#include <QImage>
#include <QPainter>

CameraView::CameraView(QWidget* parent)
    : QWidget(parent), surface_(std::make_unique<WindowSurface>(SurfaceWidth, SurfaceHeight, [this] {
          // Any thread: only post. A view destroyed meanwhile drops the call.
          QMetaObject::invokeMethod(this, &CameraView::takeRepaint, Qt::QueuedConnection);
      })) {
    setAutoFillBackground(true);  // the face where nothing was drawn
}

void CameraView::takeRepaint() {
    surface_->repaintTaken();
    update();
}

void CameraView::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    surface_->read([&](const std::uint32_t* pixels, WindowSurface::Extent drawn) {
        if (drawn.width <= 0 || drawn.height <= 0) {
            return;
        }
        // Wraps the surface's memory without copying; it is painted under the surface's lock.
        const QImage image(reinterpret_cast<const uchar*>(pixels), drawn.width, drawn.height,
                           surface_->stride(), QImage::Format_RGB32);
        painter.drawImage(QPoint(0, 0), image);
    });
}

CameraWindow::CameraWindow(const QString& caption) {
    auto view = std::make_unique<CameraView>();
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
