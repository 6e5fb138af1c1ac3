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
    std::string shownPath;   // the same name as the user reads it (UTF-8)
    std::vector<SaveFailure> failures;
};

// Asks for a file name and type, then has the library save every channel's
// current picture under that name. A cancelled dialog saves nothing.
SaveOutcome SavePictures(const CaptureLibrary& capture, SavePictureDialog& dialog);

// The name the library gets for a file name and 1-based file type.
std::string SavePath(const std::string& fileName, int filterIndex);

// The text that tells the user which pictures could not be written, and why,
// under the name as the user reads it.
std::string DescribeSaveFailures(const SaveOutcome& outcome);
