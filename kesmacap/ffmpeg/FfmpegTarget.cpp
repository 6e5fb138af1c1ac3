#include "kesmacap/ffmpeg/FfmpegTarget.h"

#include <cctype>

namespace kesmacap {

namespace {

// Everything but RFC 3986's unreserved characters as %XX, so that no ":",
// "@", "/", "?" or "#" of a password ends the user info early.
std::string escaped(const std::string& text) {
    static constexpr char Hex[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (std::isalnum(byte) != 0 || c == '-' || c == '.' || c == '_' || c == '~') {
            out.push_back(c);
        } else {
            out += {'%', Hex[byte >> 4], Hex[byte & 15]};
        }
    }
    return out;
}

// FFmpeg's file protocol takes a path as written: no escapes, no host.
FfmpegTarget fileTarget(std::string rest) {
    FfmpegTarget target;
    if (AsciiLower(rest.substr(0, 10)) == "localhost/") {
        rest.erase(0, 9);
    }
    if (rest.empty() || rest.front() != '/') {
        target.problem = "a file URI names a file on this machine: file:///path";
        return target;
    }
    std::string path = PercentDecoded(rest.substr(0, rest.find_first_of("?#")));
    // file:///C:/videos/door.mp4 on Windows.
    if (path.size() >= 3 && std::isalpha(static_cast<unsigned char>(path[1])) != 0 && path[2] == ':') {
        path.erase(0, 1);
    }
    target.url = "file:" + path;
    return target;
}

FfmpegTarget refusal(std::string problem) {
    FfmpegTarget target;
    target.problem = std::move(problem);
    return target;
}

}  // namespace

FfmpegTarget TargetFor(const SourceUri& source) {
    const auto separator = source.uri.find("://");
    if (separator == std::string::npos) {
        return refusal("this is not a URI");
    }
    std::string scheme = AsciiLower(source.uri.substr(0, separator));
    const std::string rest = source.uri.substr(separator + 3);
    if (scheme == "file") {
        return fileTarget(rest);
    }
    FfmpegTarget target;
    target.scheme = scheme;
    const std::string timeout =
        std::to_string(std::chrono::duration_cast<std::chrono::microseconds>(NetworkTimeout).count());
    const bool rtsp = scheme == "rtsp" || scheme == "rtspt" || scheme == "rtspu" || scheme == "rtsps";
    if (rtsp) {
        if (scheme == "rtspt" || scheme == "rtspu") {
            target.options.emplace_back("rtsp_transport", scheme == "rtspt" ? "tcp" : "udp");
            scheme = "rtsp";
        }
        target.options.emplace_back("allowed_media_types", "video");
        target.options.emplace_back("timeout", timeout);
    } else if (scheme == "http" || scheme == "https") {
        // Passed on to the TCP connection under HTTP. (Elsewhere "timeout"
        // means other things: RTMP's makes it listen.)
        target.options.emplace_back("timeout", timeout);
        if (scheme == "https") {
            // FFmpeg trusts any certificate unless told otherwise, and would
            // hand the password to whoever answers; GStreamer checks it too.
            target.options.emplace_back("tls_verify", "1");
        }
    }
    target.url = scheme + "://" + rest;
    if (source.user.empty() && source.password.empty()) {
        return target;
    }
    if (source.user.size() > MostCredentialBytes || source.password.size() > MostCredentialBytes) {
        return refusal("the user name or password is longer than " + std::to_string(MostCredentialBytes) +
                       " bytes");
    }
    if (scheme == "rtsps") {
        // FFmpeg opens RTSP's TLS with no options: it checks no certificate,
        // and would hand the password to whoever answers.
        target = {{}, {}, false, {}, scheme};
        target.problem =
            "FFmpeg cannot check an rtsps camera's certificate, so no password goes to it: use rtsp:// "
            "on a network you trust";
        return target;
    }
    // Always with the colon: FFmpeg's HTTP client sends no credentials without one.
    const std::string info = escaped(source.user) + ":" + escaped(source.password);
    if (rtsp && info.size() > MostRtspUserInfoBytes) {
        return refusal("the user name and password are too long for FFmpeg's RTSP client (at most " +
                       std::to_string(MostRtspUserInfoBytes) + " bytes together, written as %XX escapes)");
    }
    target.url = scheme + "://" + info + "@" + rest;
    target.credentials = true;
    return target;
}

}  // namespace kesmacap
