// Network cameras and files through FFmpeg as the library's card.
#include <new>

#include "kesmacap/card/Card.h"
#include "kesmacap/ffmpeg/FfmpegSource.h"

namespace kesmacap {

namespace {

std::unique_ptr<FrameSource> ffmpegSource(Channels& channels) {
    return std::make_unique<FfmpegSource>(channels, LoadSources("ffmpeg"));
}

}  // namespace

#ifdef _WIN32
Card& TheCard() {
    // Never destroyed, as the simulated card's: when a process ends, Windows
    // has ended the cameras' threads before the DLL's static destructors run,
    // and joining them then would hang the exit. A viewer that closes its
    // channels first has already had every camera's stream closed.
    alignas(Card) static unsigned char storage[sizeof(Card)];
    static Card* const card = ::new (storage) Card(ffmpegSource);
    return *card;
}
#else
Card& TheCard() {
    // Destroyed when the library is unloaded: every camera closes first.
    static Card card(ffmpegSource);
    return card;
}
#endif

}  // namespace kesmacap
