#include "kesmacap/gstreamer/BusRules.h"

#include <gst/gst.h>

namespace kesmacap {

SourceEventKind KindOfError(GQuark domain, int code) {
    if (domain == GST_RESOURCE_ERROR && code == GST_RESOURCE_ERROR_NOT_AUTHORIZED) {
        return SourceEventKind::LoginRefused;
    }
    const bool missing = (domain == GST_CORE_ERROR && code == GST_CORE_ERROR_MISSING_PLUGIN) ||
                         (domain == GST_STREAM_ERROR &&
                          (code == GST_STREAM_ERROR_CODEC_NOT_FOUND || code == GST_STREAM_ERROR_DECRYPT ||
                           code == GST_STREAM_ERROR_DECRYPT_NOKEY));
    return missing ? SourceEventKind::Refused : SourceEventKind::Error;
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
