#include "app/QuadviewApplication.h"
#include "app/Viewer.h"

int main(int argc, char** argv) {
    QuadviewApplication app(argc, argv);
    QuadviewApplication::setApplicationName(QStringLiteral("quadview"));
    return StartViewer(app, [] { return CaptureLibrary::load(); });
}
