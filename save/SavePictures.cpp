#include "save/SavePictures.h"

#include <cstring>

namespace {

constexpr std::int32_t SaveValue = 50;  // JPEG quality

}  // namespace

SaveOutcome SavePictures(const CaptureLibrary& capture, SavePictureDialog& dialog) {
    SaveOutcome outcome;
    if (!dialog.Execute()) {
        return outcome;
    }
    outcome.attempted = true;
    const int filterIndex = dialog.FilterIndex();
    outcome.path = SavePath(dialog.FileName(), filterIndex);
    outcome.shownPath = SavePath(dialog.ShownFileName(), filterIndex);
    const auto format = static_cast<std::uint8_t>(filterIndex - 1);
    for (ChannelIndex channel = 0; channel < ChannelCount; ++channel) {
        const std::int32_t error =
            capture.SaveChannelPicture(channel, outcome.path.c_str(), format, SaveValue);
        if (error != 0) {
            outcome.failures.push_back({channel, error});
        }
    }
    return outcome;
}

std::string SavePath(const std::string& fileName, int filterIndex) {
    // Only the first type gets an extension here, whatever the name already ends with.
    return filterIndex == 1 ? fileName + ".bmp" : fileName;
}

std::string DescribeSaveFailures(const SaveOutcome& outcome) {
    std::string text = "無法儲存下列圖片 (" + outcome.shownPath + ")：";
    for (const SaveFailure& failure : outcome.failures) {
        text += "\nCamera" + std::to_string(failure.channel + 1) + ": " + std::strerror(failure.error);
    }
    return text;
}
