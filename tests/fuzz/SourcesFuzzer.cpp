// The GStreamer library's settings file as anyone may write it: any bytes,
// any line, through the parser and the masking of what it would show.
#include <string_view>

#include "kesmacap/gstreamer/SourcesFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const kesmacap::Sources sources = kesmacap::ParseSources(text, "sources");
    for (const auto& uri : sources.uris) {
        if (uri) {
            // What is shown never holds more than the URI, nor its password.
            const std::string shown = kesmacap::MaskCredentials(*uri);
            if (shown.size() > uri->size() + 3 || (kesmacap::HasPassword(*uri) && shown == *uri)) {
                __builtin_trap();
            }
        }
    }
    kesmacap::MaskCredentials(text);
    return 0;
}
