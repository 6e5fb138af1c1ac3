#include "app/Viewer.h"

#include <QIcon>

#include "app/Startup.h"
#include "app/Unit1.h"
#include "app/Unit2.h"
#include "app/Unit3.h"
#include "app/Unit4.h"
#include "app/Unit5.h"

namespace {

int runForm1(QuadviewApplication& app, const CaptureLibrary& capture) {
    app.setWindowIcon(QIcon(QStringLiteral(":/quadview.xpm")));
    TForm1 form1(capture);
    form1.AddCamera(std::make_unique<TCamera1>());
    form1.AddCamera(std::make_unique<TCamera2>());
    form1.AddCamera(std::make_unique<TCamera3>());
    form1.AddCamera(std::make_unique<TCamera4>());
    form1.show();
    QApplication::exec();
    // Leaving this scope destroys Form1, whose destruction stops and closes the channels.
    return 0;
}

}  // namespace

int StartViewer(QuadviewApplication& app, const std::function<CaptureLibrary()>& loadCapture) {
    return RunProgram(
        loadCapture, [&app](const CaptureLibrary& capture) { return runForm1(app, capture); },
        [&app](const std::string& message) { app.showError(QString::fromStdString(message)); });
}

int RunViewer(QuadviewApplication& app, const CaptureLibrary& capture) {
    return StartViewer(app, [&capture] { return capture; });
}
