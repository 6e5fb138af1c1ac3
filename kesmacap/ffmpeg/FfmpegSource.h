#pragma once

#include <array>
#include <memory>

#include "kesmacap/card/Card.h"
#include "kesmacap/ffmpeg/FfmpegCamera.h"
#include "kesmacap/sources/SourcesFile.h"

namespace kesmacap {

// Network cameras and files as FFmpeg opens them, one FfmpegCamera per
// channel, as the settings name them. Every channel opens, configured or
// not: one without a source says so in its picture.
class FfmpegSource final : public FrameSource {
  public:
    FfmpegSource(Channels& channels, const Sources& sources);
    ~FfmpegSource() override;
    FfmpegSource(const FfmpegSource&) = delete;
    FfmpegSource& operator=(const FfmpegSource&) = delete;

    std::int32_t open(int channel) override;
    void close(int channel) override;
    std::int32_t start(int channel) override;
    void stop(int channel) override;

  private:
    std::array<std::unique_ptr<FfmpegCamera>, ChannelCount> cameras_;
};

}  // namespace kesmacap
