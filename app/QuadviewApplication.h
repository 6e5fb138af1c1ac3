#pragma once

#include <QApplication>
#include <QString>
#include <functional>

// The application object. An exception that escapes an event handler is shown
// to the user and the event loop goes on, as a form framework does.
class QuadviewApplication : public QApplication {
  public:
    using ErrorDisplay = std::function<void(const QString& message)>;

    QuadviewApplication(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;

    // Shows an error in a message box titled with the program's name.
    void showError(const QString& message) const;

    // Runs an event handler; an exception it throws is shown here instead of
    // unwinding through the toolkit, which does not clean up after exceptions.
    static void guard(const std::function<void()>& handler);
    // Replaces the message box, for tests.
    void setErrorDisplay(ErrorDisplay display) { display_ = std::move(display); }

  private:
    static void showCurrentError(const QString& message);

    ErrorDisplay display_;
};
