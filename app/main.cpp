#include "app/QuadviewApplication.h"
#include "app/Viewer.h"

#ifndef QUADVIEW_SCREEN_PATH
#define QUADVIEW_SCREEN_PATH Automatic
#endif

int main(int argc, char** argv) {
    QuadviewApplication app(argc, argv, QuadviewApplication::ScreenPath::QUADVIEW_SCREEN_PATH);
    QuadviewApplication::setApplicationName(QStringLiteral("quadview"));
    return StartViewer(app, [] { return CaptureLibrary::load(); });
}
