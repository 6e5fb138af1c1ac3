#include "app/Viewer.h"

#include <QIcon>
#include <exception>
#include <iostream>
#include <optional>

#include "app/Unit1.h"
#include "app/Unit2.h"
#include "app/Unit3.h"
#include "app/Unit4.h"
#include "app/Unit5.h"

int StartViewer(QuadviewApplication& app, const std::function<CaptureLibrary()>& loadCapture) {
    std::optional<CaptureLibrary> capture;
    try {
        capture = loadCapture();
    } catch (const CaptureLibraryError& error) {
        std::cerr << "quadview: " << error.what() << '\n';
        app.showError(QString::fromLocal8Bit(error.what()));
        return 1;
    }
    return RunViewer(app, *capture);
}

int RunViewer(QuadviewApplication& app, const CaptureLibrary& capture) {
    try {
        app.setWindowIcon(QIcon(QStringLiteral(":/quadview.xpm")));
        TForm1 form1(capture);
        form1.AddCamera(std::make_unique<TCamera1>());
        form1.AddCamera(std::make_unique<TCamera2>());
        form1.AddCamera(std::make_unique<TCamera3>());
        form1.AddCamera(std::make_unique<TCamera4>());
        form1.show();
        QApplication::exec();
        // Leaving this scope destroys Form1, whose destruction stops and closes the channels.
    } catch (const std::exception& error) {
        std::cerr << "quadview: " << error.what() << '\n';
        app.showError(QString::fromLocal8Bit(error.what()));
        return 1;
    } catch (...) {
        app.showError(QString());
        return 1;
    }
    return 0;
}
