#include "app/CameraWindow.h"

#include <QCloseEvent>
#include <QImage>
#include <QPaintEvent>
#include <QPainter>
#include <algorithm>

CameraView::CameraView(QWidget* parent)
    : QWidget(parent), surface_(std::make_unique<WindowSurface>(SurfaceWidth, SurfaceHeight, [this] {
          // Any thread: only post. A view destroyed meanwhile drops the call.
          QMetaObject::invokeMethod(this, &CameraView::takeRepaint, Qt::QueuedConnection);
      })) {
    // Every pixel is painted below, picture or face: Qt need not fill the
    // background first nor repaint the windows underneath at each frame.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
}

void CameraView::takeRepaint() {
    surface_->repaintTaken();
    update();
}

void CameraView::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    QRect picture;
    surface_->read([&](const std::uint32_t* pixels, WindowSurface::Extent drawn) {
        picture = QRect(0, 0, std::min(drawn.width, width()), std::min(drawn.height, height()));
        const QRect exposed = picture.intersected(event->rect());
        if (exposed.isEmpty()) {
            return;
        }
        // Wraps the surface's memory without copying; it is painted under the surface's lock.
        const QImage image(reinterpret_cast<const uchar*>(pixels), drawn.width, drawn.height,
                           surface_->stride(), QImage::Format_RGB32);
        painter.drawImage(exposed.topLeft(), image, exposed);
    });
    // The face where nothing was drawn yet.
    const QRegion face = QRegion(event->rect()) - QRegion(picture);
    for (const QRect& rect : face) {
        painter.fillRect(rect, palette().window());
    }
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
