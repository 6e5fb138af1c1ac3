#include "app/ChannelCommands.h"

#include "app/Design.h"
#include "save/SavePictures.h"

void ChannelCommands::FormCreate() {
    for (ChannelIndex channel = 0; channel < ChannelCount; ++channel) {
        capture_.OpenChannel(channel);
    }
    LiveView.CaptureMode = 0;
}

void ChannelCommands::FormShow() {
    shell_.tileCameras();
}

void ChannelCommands::FormDestroy() {
    for (ChannelIndex channel = 0; channel < ChannelCount; ++channel) {
        capture_.StopChannel(channel);
        capture_.SetChannelFlag(channel, 0);
        capture_.CloseChannel(channel);
    }
    ReleaseLiveView();
}

void ChannelCommands::N2Click() {
    StartLiveView(capture_, shell_.cameraWindows());
}

void ChannelCommands::N3Click() {
    for (ChannelIndex channel = 0; channel < ChannelCount; ++channel) {
        capture_.CloseChannel(channel);
    }
    shell_.closeFrame();
}

void ChannelCommands::N5Click() {
    shell_.tileCameras();
    shell_.restoreCameras();
}

void ChannelCommands::N6Click() {
    shell_.cascadeCameras();
}

void ChannelCommands::N8Click(SavePictureDialog& dialog) {
    const SaveOutcome outcome = SavePictures(capture_, dialog);
    if (!outcome.failures.empty()) {
        shell_.showWarning(QUADVIEW_N8_CAPTION, DescribeSaveFailures(outcome));
    }
}
