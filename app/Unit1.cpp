#include "app/Unit1.h"

#include <QMenuBar>
#include <QMessageBox>
#include <QShowEvent>

#include "app/Design.h"
#include "app/QuadviewApplication.h"

namespace {

// The designed outer frame.
constexpr QRect DesignedFrame(QUADVIEW_FORM1_LEFT, QUADVIEW_FORM1_TOP, QUADVIEW_FORM1_WIDTH,
                              QUADVIEW_FORM1_HEIGHT);

QAction* addItem(QMenu* menu, const char* name, const QString& caption, QKeySequence shortcut = {}) {
    QAction* const item = menu->addAction(caption);
    item->setObjectName(QString::fromLatin1(name));
    item->setShortcut(shortcut);
    return item;
}

QMenu* addMenu(QMenuBar* bar, const char* name, const QString& caption) {
    QMenu* const menu = bar->addMenu(caption);
    menu->setObjectName(QString::fromLatin1(name));
    menu->menuAction()->setObjectName(QString::fromLatin1(name));
    return menu;
}

}  // namespace

TForm1::TForm1(const CaptureLibrary& capture) : SavePictureDialog1(this), commands_(capture, *this) {
    setObjectName(QStringLiteral(QUADVIEW_FORM1_CAPTION));
    setWindowTitle(QStringLiteral(QUADVIEW_FORM1_CAPTION));
    auto area = std::make_unique<QMdiArea>();
    MdiArea = area.get();
    setCentralWidget(area.release());
    applyDesignedLook();
    buildMenu();
    FormCreate();
}

// A destructor must not throw: a failure here is shown like any handler's.
TForm1::~TForm1() {
    QuadviewApplication::guard([this] { FormDestroy(); });
}

void TForm1::applyDesignedLook() {
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPixelSize(11);
    font.setStyleHint(QFont::SansSerif);
    setFont(font);
    // The button face, on the frame and behind the camera windows.
    QPalette face = palette();
    face.setColor(QPalette::Window, face.color(QPalette::Button));
    setPalette(face);
    MdiArea->setBackground(face.color(QPalette::Button));
    move(DesignedFrame.topLeft());
    resize(DesignedFrame.size());
}

void TForm1::buildMenu() {
    QMenuBar* const bar = menuBar();
    N1 = addMenu(bar, "N1", QString::fromUtf8(QUADVIEW_N1_CAPTION));
    N2 = addItem(N1, "N2", QString::fromUtf8(QUADVIEW_N2_CAPTION),
                 QKeySequence(QString::fromUtf8(QUADVIEW_N2_KEY_TEXT)));
    N3 = addItem(N1, "N3", QString::fromUtf8(QUADVIEW_N3_CAPTION),
                 QKeySequence(QString::fromUtf8(QUADVIEW_N3_KEY_TEXT)));
    N4 = addMenu(bar, "N4", QString::fromUtf8(QUADVIEW_N4_CAPTION));
    N5 = addItem(N4, "N5", QString::fromUtf8(QUADVIEW_N5_CAPTION));
    N6 = addItem(N4, "N6", QString::fromUtf8(QUADVIEW_N6_CAPTION));
    N7 = addMenu(bar, "N7", QString::fromUtf8(QUADVIEW_N7_CAPTION));
    N8 = addItem(N7, "N8", QString::fromUtf8(QUADVIEW_N8_CAPTION));
    N9 = addItem(N7, "N9", QString::fromUtf8(QUADVIEW_N9_CAPTION));  // present and enabled; does nothing

    const auto bind = [this](QAction* item, void (TForm1::*handler)()) {
        connect(item, &QAction::triggered, this,
                [this, handler] { QuadviewApplication::guard([&] { (this->*handler)(); }); });
    };
    bind(N2, &TForm1::N2Click);
    bind(N3, &TForm1::N3Click);
    bind(N5, &TForm1::N5Click);
    bind(N6, &TForm1::N6Click);
    bind(N8, &TForm1::N8Click);
}

void TForm1::AddCamera(std::unique_ptr<CameraWindow> camera) {
    if (cameraCount_ >= ChannelCount || !camera) {
        return;
    }
    cameras_[cameraCount_++] = camera.get();
    QMdiSubWindow* const window = camera.release();  // the area owns it from here
    MdiArea->addSubWindow(window);
    window->show();
}

void TForm1::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (event->spontaneous()) {
        return;  // a restore from minimised, not a show
    }
    if (!placed_) {
        placed_ = true;
        // The designed size is the outer frame's; take the decorations off once known.
        const QSize decorations = frameGeometry().size() - geometry().size();
        if (!decorations.isEmpty()) {
            resize(DesignedFrame.size() - decorations);
        }
    }
    FormShow();
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

CameraWindows TForm1::cameraWindows() const {
    CameraWindows windows{};
    for (ChannelIndex channel = 0; channel < cameraCount_; ++channel) {
        windows[channel] = cameras_[channel]->windowHandle();
    }
    return windows;
}

void TForm1::tileCameras() {
    MdiArea->tileSubWindows();
}

void TForm1::cascadeCameras() {
    MdiArea->cascadeSubWindows();
}

void TForm1::restoreCameras() {
    for (CameraWindow* camera : cameras_) {
        if (camera != nullptr) {
            camera->showNormal();
        }
    }
}

void TForm1::closeFrame() {
    close();
}

void TForm1::showWarning(const std::string& title, const std::string& message) {
    QMessageBox::warning(this, QString::fromStdString(title), QString::fromStdString(message));
}
