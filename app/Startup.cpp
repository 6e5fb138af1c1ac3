#include "app/Startup.h"

#include <cstdio>

int RunProgram(const std::function<CaptureLibrary()>& loadCapture,
               const std::function<int(const CaptureLibrary&)>& run, const ErrorDisplay& show) {
    const auto report = [&show](const std::string& message) {
        // Also on standard error, for a console or a log that is watching.
        if (!message.empty()) {
            std::fprintf(stderr, "quadview: %s\n", message.c_str());
        }
        show(message);
    };
    int status = 1;
    GuardHandler(report, [&] {
        const CaptureLibrary capture = loadCapture();
        status = run(capture);
    });
    return status;
}
