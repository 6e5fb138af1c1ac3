// Network cameras and files through FFmpeg as the library's card.
#include "kesmacap/card/Card.h"
#include "kesmacap/ffmpeg/FfmpegSource.h"

namespace kesmacap {

Card& TheCard() {
    return LibraryCard(
        [](Channels& channels) { return std::make_unique<FfmpegSource>(channels, LoadSources("ffmpeg")); });
}

}  // namespace kesmacap
