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
    return false;
}

void QuadviewApplication::showError(const QString& message) const {
    if (display_) {
        display_(message);
        return;
    }
    QMessageBox::critical(activeWindow(), applicationName(), message);
}
