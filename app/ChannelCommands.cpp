#include "app/ChannelCommands.h"

#include "liveview/LiveView.h"

void OpenChannels(const CaptureLibrary& capture) {
    for (ChannelIndex channel = 0; channel < ChannelCount; ++channel) {
        capture.OpenChannel(channel);
    }
    LiveView.CaptureMode = 0;
}

void CloseChannels(const CaptureLibrary& capture) {
    for (ChannelIndex channel = 0; channel < ChannelCount; ++channel) {
        capture.CloseChannel(channel);
    }
}

void ShutDownChannels(const CaptureLibrary& capture) {
    for (ChannelIndex channel = 0; channel < ChannelCount; ++channel) {
        capture.StopChannel(channel);
        capture.SetChannelFlag(channel, 0);
        capture.CloseChannel(channel);
    }
    ReleaseLiveView();
}
