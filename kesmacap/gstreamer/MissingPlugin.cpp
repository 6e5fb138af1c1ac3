#include "kesmacap/gstreamer/MissingPlugin.h"

#include <array>
#include <utility>

namespace kesmacap {

MissingPlugin AdviceForMissing(std::string_view detail) {
    // The last field is "<kind>-<what>", what a caps name or a protocol.
    const auto bar = detail.rfind('|');
    std::string_view need = bar == std::string_view::npos ? detail : detail.substr(bar + 1);
    need = need.substr(0, need.find(','));
    MissingPlugin missing;
    missing.video = need.find("audio/") == std::string_view::npos &&
                    need.find("text/") == std::string_view::npos &&
                    need.find("subpicture/") == std::string_view::npos;
    // Debian's packages by what they hold (GStreamer 1.22); libav has the rest of the decoders.
    static constexpr std::array<std::pair<std::string_view, std::string_view>, 15> Packages{{
        {"urisource-rtsp", "gstreamer1.0-plugins-good"},
        {"urisource-http", "gstreamer1.0-plugins-good"},
        {"urisource-file", "gstreamer1.0-plugins-base"},
        {"urisource-", "gstreamer1.0-plugins-bad"},
        {"image/jpeg", "gstreamer1.0-plugins-good"},
        {"multipart/", "gstreamer1.0-plugins-good"},
        {"application/x-rtp", "gstreamer1.0-plugins-good"},
        {"video/x-vp8", "gstreamer1.0-plugins-good"},
        {"video/x-vp9", "gstreamer1.0-plugins-good"},
        {"video/quicktime", "gstreamer1.0-plugins-good"},
        {"video/x-matroska", "gstreamer1.0-plugins-good"},
        {"video/x-msvideo", "gstreamer1.0-plugins-good"},
        {"application/x-hls", "gstreamer1.0-plugins-good"},
        {"video/mpegts", "gstreamer1.0-plugins-bad"},
        {"video/x-av1", "gstreamer1.0-plugins-bad"},
    }};
    std::string_view package = "gstreamer1.0-libav";
    for (const auto& [what, name] : Packages) {
        if (need.find(what) != std::string_view::npos) {
            package = name;
            break;
        }
    }
    missing.advice = "install " + std::string(package);
    return missing;
}

}  // namespace kesmacap
