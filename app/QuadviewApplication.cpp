#include "app/QuadviewApplication.h"

#include <QMessageBox>
#include <exception>

#include "app/Startup.h"

QuadviewApplication::QuadviewApplication(int& argc, char** argv, ScreenPath path) : QApplication(argc, argv) {
    if (path == ScreenPath::Surface || platformName() != QLatin1String("xcb")) {
        return;
    }
    x11_ = X11Display::open(nullptr, path == ScreenPath::PutImage ? X11Display::Transfer::PutImage
                                                                  : X11Display::Transfer::SharedMemory);
    // Native camera windows make their ancestors native, but need no native siblings.
    setAttribute(Qt::AA_DontCreateNativeWidgetSiblings);
}

// The camera windows, and with them the worker, are gone by now.
QuadviewApplication::~QuadviewApplication() = default;

X11Display* QuadviewApplication::liveDisplay() {
    const auto* const app = dynamic_cast<QuadviewApplication*>(QCoreApplication::instance());
    return app != nullptr ? app->x11_.get() : nullptr;
}

bool QuadviewApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& error) {
        showError(QString::fromLocal8Bit(error.what()));
    } catch (...) {
        showError(QString());
    }
    // Handlers run under guard(); this is the last resort for anything else.
    return false;
}

void QuadviewApplication::guard(const std::function<void()>& handler) {
    GuardHandler([](const std::string& message) { showCurrentError(QString::fromStdString(message)); },
                 handler);
}

void QuadviewApplication::showCurrentError(const QString& message) {
    if (const auto* const app = dynamic_cast<QuadviewApplication*>(QCoreApplication::instance())) {
        app->showError(message);
    } else {
        QMessageBox::critical(nullptr, QCoreApplication::applicationName(), message);
    }
}

void QuadviewApplication::showError(const QString& message) const {
    if (display_) {
        display_(message);
        return;
    }
    QMessageBox::critical(activeWindow(), applicationName(), message);
}
