#include "kesmacap/gstreamer/BusRules.h"

#include <gst/gst.h>

namespace kesmacap {

ErrorReading ReadError(GQuark domain, int code, unsigned httpStatus, const std::string& message) {
    if (domain == GST_RESOURCE_ERROR && code == GST_RESOURCE_ERROR_NOT_AUTHORIZED) {
        if (httpStatus == 0 || httpStatus == 401) {
            return {SourceEventKind::LoginRefused, message};
        }
        // souphttpsrc's message is the camera's reason phrase ("Forbidden").
        return {SourceEventKind::Error,
                "the camera refused access (HTTP " + std::to_string(httpStatus) + " " + message + ")"};
    }
    const bool missing = (domain == GST_CORE_ERROR && code == GST_CORE_ERROR_MISSING_PLUGIN) ||
                         (domain == GST_STREAM_ERROR &&
                          (code == GST_STREAM_ERROR_CODEC_NOT_FOUND || code == GST_STREAM_ERROR_DECRYPT ||
                           code == GST_STREAM_ERROR_DECRYPT_NOKEY));
    return {missing ? SourceEventKind::Refused : SourceEventKind::Error, message};
}

Buffering::Heard Buffering::heard(int percent) {
    Heard heard;
    heard.progress = percent != percent_;
    if (percent / 10 != percent_ / 10 || percent_ < 0) {
        heard.said = "buffering " + std::to_string(percent) + " %";
    }
    percent_ = percent;
    return heard;
}

bool AcceptsRanges(const char* acceptRanges) {
    return acceptRanges != nullptr && g_ascii_strcasecmp(acceptRanges, "bytes") == 0;
}

}  // namespace kesmacap
