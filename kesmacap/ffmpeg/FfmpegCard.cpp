// Network cameras and files through FFmpeg as the library's card.
#include "kesmacap/card/Card.h"
#include "kesmacap/ffmpeg/FfmpegSource.h"

namespace kesmacap {

Card& TheCard() {
    // Destroyed when the library is unloaded: every camera closes first.
    static Card card(
        [](Channels& channels) { return std::make_unique<FfmpegSource>(channels, LoadSources("ffmpeg")); });
    return card;
}

}  // namespace kesmacap
