#include "kesmacap/gstreamer/MissingPlugin.h"

#include <array>
#include <utility>

namespace kesmacap {

namespace {

constexpr std::string_view Good = "gstreamer1.0-plugins-good";
constexpr std::string_view Bad = "gstreamer1.0-plugins-bad";

// The Debian package (GStreamer 1.22) whose element reads URIs of a scheme;
// empty where none does (mms://, for one).
std::string_view sourcePackage(std::string_view scheme) {
    // A trailing "*" stands for any scheme that begins so (rtsps, rtspt, rtmpe, ...).
    static constexpr std::array<std::pair<std::string_view, std::string_view>, 11> Sources{{
        {"file", "libgstreamer1.0-0"},  // filesrc, in GStreamer's core
        {"rtsp*", Good},
        {"http", Good},
        {"https", Good},
        {"udp", Good},
        {"v4l2", Good},
        {"rtmp*", Bad},
        {"srt", Bad},
        {"rist", Bad},
        {"rtp", Bad},
        {"sdp", Bad},
    }};
    for (const auto& [name, package] : Sources) {
        const bool prefix = name.back() == '*';
        if (prefix ? scheme.rfind(name.substr(0, name.size() - 1), 0) == 0 : scheme == name) {
            return package;
        }
    }
    return {};
}

// The Debian package with the decoder or demuxer for a stream; libav has the
// decoders not named here.
std::string_view decoderPackage(std::string_view need) {
    static constexpr std::array<std::pair<std::string_view, std::string_view>, 11> Packages{{
        {"image/jpeg", Good},
        {"multipart/", Good},
        {"application/x-rtp", Good},
        {"video/x-vp8", Good},
        {"video/x-vp9", Good},
        {"video/quicktime", Good},
        {"video/x-matroska", Good},
        {"video/x-msvideo", Good},
        {"application/x-hls", Bad},
        {"video/mpegts", Bad},
        {"video/x-av1", Bad},
    }};
    for (const auto& [what, name] : Packages) {
        if (need.find(what) != std::string_view::npos) {
            return name;
        }
    }
    return "gstreamer1.0-libav";
}

}  // namespace

MissingPlugin AdviceForMissing(std::string_view detail) {
    // The last field is "<kind>-<what>", what a caps name or a protocol.
    const auto bar = detail.rfind('|');
    std::string_view need = bar == std::string_view::npos ? detail : detail.substr(bar + 1);
    need = need.substr(0, need.find(','));
    MissingPlugin missing;
    missing.video = need.find("audio/") == std::string_view::npos &&
                    need.find("text/") == std::string_view::npos &&
                    need.find("subpicture/") == std::string_view::npos;
    constexpr std::string_view Source = "urisource-";
    const std::string_view package =
        need.rfind(Source, 0) == 0 ? sourcePackage(need.substr(Source.size())) : decoderPackage(need);
    missing.advice = package.empty() ? "no Debian package has one" : "install " + std::string(package);
    return missing;
}

}  // namespace kesmacap
