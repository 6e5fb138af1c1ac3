// What both shells' entries and handlers share: one start-up path and one
// error guard.
#pragma once

#include <exception>
#include <functional>
#include <string>

#include "capture/CaptureLibrary.h"

// Shows an error to the user (UTF-8; empty for an exception that says nothing).
using ErrorDisplay = std::function<void(const std::string& message)>;

// Runs a handler; an exception it throws is shown and the program goes on, as
// a form framework's message loop does. Never throws itself.
template <typename Handler>
void GuardHandler(const ErrorDisplay& show, Handler&& handler) noexcept {
    try {
        handler();
    } catch (const std::exception& error) {
        show(error.what());
    } catch (...) {
        show(std::string());
    }
}

// The entry once the toolkit is up: loads the capture library, then runs the
// frame window until it closes. A library that cannot be loaded, and an
// exception that escapes the run, are shown (and written to standard error)
// and give 1; a normal run gives what run returns.
int RunProgram(const std::function<CaptureLibrary()>& loadCapture,
               const std::function<int(const CaptureLibrary&)>& run, const ErrorDisplay& show);
