#pragma once

#include <string>
#include <string_view>

namespace kesmacap {

// What GStreamer lacks, from a missing-plugin message's installer detail
// ("gstreamer|1.0|app|H.265 decoder|decoder-video/x-h265, ...").
struct MissingPlugin {
    bool video = false;  // the picture needs it: a video decoder, a protocol, a demuxer
    std::string advice;  // "install <the Debian package that has it>"
};
MissingPlugin AdviceForMissing(std::string_view installerDetail);

}  // namespace kesmacap
