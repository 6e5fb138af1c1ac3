#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "capture/CaptureLibrary.h"
#include "save/SavePictureDialog.h"

struct SaveFailure {
    ChannelIndex channel;
    std::int32_t error;  // errno value from the capture library
};

struct SaveOutcome {
    bool attempted = false;  // false when the dialog was cancelled
    std::string path;        // as handed to the library
    std::vector<SaveFailure> failures;
};

// Asks for a file name and type, then has the library save every channel's
// current picture under that name. A cancelled dialog saves nothing.
SaveOutcome SavePictures(const CaptureLibrary& capture, SavePictureDialog& dialog);

// The text that tells the user which pictures could not be written, and why.
// shownPath is the name as the user should read it (UTF-8); the path handed
// to the library may be in another encoding (Windows' ANSI code page).
std::string DescribeSaveFailures(const SaveOutcome& outcome, const std::string& shownPath);
std::string DescribeSaveFailures(const SaveOutcome& outcome);
