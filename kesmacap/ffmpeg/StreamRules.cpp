#include "kesmacap/ffmpeg/StreamRules.h"

extern "C" {
#include <libavutil/error.h>
}

#include <algorithm>

#include "kesmacap/card/Letterbox.h"

namespace kesmacap {

namespace {

SourceEvent refusal(const std::string& why) {
    return {SourceEventKind::Refused, why + "; not tried again until F1"};
}

// Pictures decoded at a quarter at most: smaller would need a larger scale up than it saves.
constexpr int MostLowres = 2;

}  // namespace

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

bool IsLiveFormat(std::string_view format) {
    // RTSP and RTP cameras, and the multipart JPEG stream of MJPEG cameras.
    return format == "rtsp" || format == "rtp" || format == "sdp" || format == "mpjpeg";
}

SourceEvent EventForEnd(std::string_view format, bool seekable) {
    if (IsLiveFormat(format)) {
        return {SourceEventKind::EndOfStream, {}};
    }
    return {SourceEventKind::Ended, {}, seekable};
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

}  // namespace kesmacap
