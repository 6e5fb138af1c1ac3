// Network cameras and files as the library's card.
#include <cstdio>

#include "kesmacap/card/Card.h"
#include "kesmacap/gstreamer/GstSource.h"

namespace kesmacap {

Card& TheCard() {
    // Destroyed when the library is unloaded: every pipeline stops first.
    return LibraryCard([](Channels& channels) {
        std::string why;
        if (!StartGstreamer(why)) {
            std::fprintf(stderr, "quadview gstreamer: GStreamer cannot start: %s\n", why.c_str());
            return std::make_unique<GstSource>(channels, Sources{}, why);
        }
        return std::make_unique<GstSource>(channels, LoadSources("gstreamer"));
    });
}

}  // namespace kesmacap
