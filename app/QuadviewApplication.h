#pragma once

#include <QApplication>
#include <QString>
#include <functional>
#include <memory>

#include "platform/screen/X11Display.h"

// The application object. An exception that escapes an event handler is shown
// to the user and the event loop goes on, as a form framework does.
class QuadviewApplication : public QApplication {
  public:
    using ErrorDisplay = std::function<void(const QString& message)>;

    // How pictures reach the screen, settled once here. Automatic: on X11
    // straight from the worker, by shared memory where the server can map it,
    // else in the requests; elsewhere (Wayland, offscreen) through window
    // surfaces the GUI thread paints. The others force a path, for tests and
    // benchmarks.
    enum class ScreenPath { Automatic, PutImage, Surface };

    QuadviewApplication(int& argc, char** argv, ScreenPath path = ScreenPath::Automatic);
    ~QuadviewApplication() override;

    bool notify(QObject* receiver, QEvent* event) override;

    // Shows an error in a message box titled with the program's name.
    void showError(const QString& message) const;

    // Runs an event handler; an exception it throws is shown here instead of
    // unwinding through the toolkit, which does not clean up after exceptions.
    static void guard(const std::function<void()>& handler);
    // Replaces the message box, for tests.
    void setErrorDisplay(ErrorDisplay display) { display_ = std::move(display); }

    // The live view's own X connection, or null where windows paint their surfaces.
    static X11Display* liveDisplay();

  private:
    static void showCurrentError(const QString& message);

    ErrorDisplay display_;
    std::unique_ptr<X11Display> x11_;
};
