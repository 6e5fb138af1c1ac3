#pragma once

#include <functional>

#include "app/QuadviewApplication.h"
#include "capture/CaptureLibrary.h"

// The program's entry once the application object exists: loads the capture
// library (a failure is shown and gives status 1), then runs the viewer.
int StartViewer(QuadviewApplication& app, const std::function<CaptureLibrary()>& loadCapture);

// Creates Form1, then Camera1 ... Camera4 as its children, runs the event loop
// until Form1 closes, and tears down. 0 after a normal run; an exception that
// escapes is shown and gives 1.
int RunViewer(QuadviewApplication& app, const CaptureLibrary& capture);
