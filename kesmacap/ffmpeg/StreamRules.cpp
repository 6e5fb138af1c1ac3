#include "kesmacap/ffmpeg/StreamRules.h"

#ifdef _WIN32
#include <winsock2.h>
#endif

extern "C" {
#include <libavutil/error.h>
}

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <optional>

#include "kesmacap/card/Letterbox.h"
#include "kesmacap/sources/RtspLogin.h"
#include "kesmacap/sources/SourcesFile.h"

namespace kesmacap {

namespace {

SourceEvent refusal(const std::string& why) {
    return {SourceEventKind::Refused, why + "; not tried again until F1"};
}

// Pictures decoded at a quarter at most: smaller would need a larger scale up than it saves.
constexpr int MostLowres = 2;

struct Origin {
    std::string scheme;
    std::string host;
    int port = 0;
    bool operator==(const Origin&) const = default;
};

int defaultPort(const std::string& scheme) {
    return scheme == "rtsp"    ? 554
           : scheme == "rtsps" ? 322
           : scheme == "http"  ? 80
           : scheme == "https" ? 443
                               : 0;
}

std::optional<Origin> originOf(std::string_view url) {
    const auto separator = url.find("://");
    if (separator == std::string_view::npos) {
        return std::nullopt;
    }
    Origin origin{AsciiLower(url.substr(0, separator)), {}, 0};
    if (origin.scheme == "rtspt" || origin.scheme == "rtspu") {
        origin.scheme = "rtsp";
    }
    std::string_view authority = url.substr(separator + 3);
    authority = authority.substr(0, authority.find_first_of("/?#"));
    if (const auto at = authority.rfind('@'); at != std::string_view::npos) {
        authority.remove_prefix(at + 1);
    }
    // An IPv6 address keeps its colons inside its brackets.
    const auto hostEnd = authority.starts_with('[') ? authority.find(']') : authority.rfind(':');
    if (authority.starts_with('[') && hostEnd == std::string_view::npos) {
        return std::nullopt;
    }
    const auto colon = authority.find(':', authority.starts_with('[') ? hostEnd : 0);
    origin.host = AsciiLower(authority.substr(0, colon));
    const std::string_view port = colon == std::string_view::npos ? "" : authority.substr(colon + 1);
    origin.port = defaultPort(origin.scheme);
    if (!port.empty()) {
        const auto [end, problem] = std::from_chars(port.data(), port.data() + port.size(), origin.port);
        if (problem != std::errc{} || end != port.data() + port.size()) {
            return std::nullopt;
        }
    }
    if (origin.host.empty()) {
        return std::nullopt;
    }
    return origin;
}

}  // namespace

std::string ErrorText(int error) {
    static constexpr struct {
        int code;
        const char* text;
    } Network[] = {
        {AVERROR(ETIMEDOUT), "Connection timed out"},
        {AVERROR(ECONNREFUSED), "Connection refused"},
        {AVERROR(ECONNRESET), "Connection reset by peer"},
        {AVERROR(ECONNABORTED), "Connection aborted"},
        {AVERROR(EHOSTUNREACH), "No route to host"},
        {AVERROR(ENETUNREACH), "Network is unreachable"},
        {AVERROR(ENETDOWN), "Network is down"},
        {AVERROR(EADDRNOTAVAIL), "Cannot assign requested address"},
        {AVERROR(ENOTCONN), "Transport endpoint is not connected"},
#ifdef _WIN32
        // FFmpeg passes on Winsock's own codes but for a few it maps to errno.
        {-WSAETIMEDOUT, "Connection timed out"},
        {-WSAECONNREFUSED, "Connection refused"},
        {-WSAECONNRESET, "Connection reset by peer"},
        {-WSAECONNABORTED, "Connection aborted"},
        {-WSAEHOSTUNREACH, "No route to host"},
        {-WSAENETUNREACH, "Network is unreachable"},
        {-WSAENETDOWN, "Network is down"},
        {-WSAEADDRNOTAVAIL, "Cannot assign requested address"},
        {-WSAENOTCONN, "Transport endpoint is not connected"},
        {-WSAEHOSTDOWN, "Host is down"},
#endif
    };
    for (const auto& known : Network) {
        if (known.code == error) {
            return known.text;
        }
    }
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(error, text, sizeof text);
    return text;
}

SourceEvent EventForError(int error, const std::string& detail, bool credentials, const std::string& scheme) {
    switch (error) {
        case AVERROR_HTTP_FORBIDDEN:
            // Not a login refused: a camera's client limit or an address ban; tried again as any error.
            return {SourceEventKind::Error, "the camera refused access (403 Forbidden)"};
        case AVERROR_HTTP_UNAUTHORIZED:
            if (credentials) {
                return {SourceEventKind::LoginRefused, "the camera refused the user name or password"};
            }
            if (scheme == "rtsps") {
                return refusal("the camera wants a user name and password, which no rtsps camera is given");
            }
            return refusal("the camera wants a user name and password (" + scheme +
                           "://user:password@camera/...)");
        case AVERROR_PROTOCOL_NOT_FOUND:
            return refusal(
                "this FFmpeg has no protocol for this URI (is it built with it, and with TLS for https?)");
        case AVERROR_DEMUXER_NOT_FOUND:
            return refusal("this FFmpeg cannot read this format");
        case AVERROR_DECODER_NOT_FOUND:
            return refusal("this FFmpeg has no decoder for " + detail + " (is it built with it?)");
        case AVERROR_STREAM_NOT_FOUND:
            return refusal("it holds no video");
        default:
            return {SourceEventKind::Error, detail};
    }
}

SourceEvent EventForLogin(const SourceEvent& refused, const std::vector<std::string>& challenges) {
    const LoginVerdict verdict = LoginRefusal(challenges, true, FfmpegRtsp);
    return verdict.worthRetrying ? refused : refusal(verdict.reason);
}

bool IsLive(std::string_view format, std::string_view scheme) {
    return format == "rtsp" || format == "rtp" || format == "sdp" || format == "mpjpeg" || scheme == "udp" ||
           scheme == "rtp" || scheme == "srt" || scheme == "tcp";
}

SourceEvent EventForEnd(std::string_view format, std::string_view scheme, bool seekable) {
    if (IsLive(format, scheme)) {
        return {SourceEventKind::EndOfStream, {}};
    }
    return {SourceEventKind::Ended, {}, seekable};
}

bool DecoderErrorEndsStream(int error) {
    return error == AVERROR(ENOMEM) || error == AVERROR_PATCHWELCOME || error == AVERROR(ENOSYS);
}

int LowresFor(int width, int height, int aspectNum, int aspectDen, int maxLowres) {
    const FrameRect fit = FitInFrame(width, height, aspectNum, aspectDen);
    int lowres = 0;
    while (lowres < std::min(maxLowres, MostLowres) && fit.width > 0 &&
           (width >> (lowres + 1)) >= fit.width && (height >> (lowres + 1)) >= fit.height) {
        ++lowres;
    }
    return lowres;
}

bool SameOrigin(std::string_view named, std::string_view other) {
    const std::optional<Origin> first = originOf(named);
    return first && first == originOf(other);
}

}  // namespace kesmacap
