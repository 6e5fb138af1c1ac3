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
    outcome.path = dialog.FileName();
    const int filterIndex = dialog.FilterIndex();
    // Only the first type gets an extension here, whatever the name already ends with.
    if (filterIndex == 1) {
        outcome.path += ".bmp";
    }
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

std::string DescribeSaveFailures(const SaveOutcome& outcome) {
    return DescribeSaveFailures(outcome, outcome.path);
}

std::string DescribeSaveFailures(const SaveOutcome& outcome, const std::string& shownPath) {
    std::string text = "無法儲存下列圖片 (" + shownPath + ")：";
    for (const SaveFailure& failure : outcome.failures) {
        text += "\nCamera" + std::to_string(failure.channel + 1) + ": " + std::strerror(failure.error);
    }
    return text;
}
