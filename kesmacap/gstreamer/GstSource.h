#pragma once

#include <array>
#include <memory>

#include "kesmacap/card/Card.h"
#include "kesmacap/gstreamer/GstCamera.h"
#include "kesmacap/sources/SourcesFile.h"

namespace kesmacap {

// Network cameras, files and anything else GStreamer plays, one GstCamera
// per channel, as the settings name them. Every channel opens, configured or
// not: one without a source says so in its picture, and so does every
// channel when GStreamer itself cannot start (gstreamerFailure says why).
class GstSource final : public FrameSource {
  public:
    GstSource(Channels& channels, const Sources& sources, std::string gstreamerFailure = {});

    std::int32_t open(int channel) override;
    void close(int channel) override;
    std::int32_t start(int channel) override;
    void stop(int channel) override;

  private:
    Channels& channels_;
    const std::string gstreamerFailure_;
    std::array<std::unique_ptr<GstCamera>, ChannelCount> cameras_;
};

// GStreamer, set up once for the process; false (and why) when it cannot start.
bool StartGstreamer(std::string& why);

}  // namespace kesmacap
