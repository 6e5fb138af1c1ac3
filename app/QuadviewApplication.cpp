#include "app/QuadviewApplication.h"

#include <QMessageBox>
#include <exception>

QuadviewApplication::QuadviewApplication(int& argc, char** argv) : QApplication(argc, argv) {}

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
    try {
        handler();
    } catch (const std::exception& error) {
        showCurrentError(QString::fromLocal8Bit(error.what()));
    } catch (...) {
        showCurrentError(QString());
    }
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
