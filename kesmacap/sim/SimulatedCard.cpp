// The simulated card as the library's card.
#include <new>

#include "kesmacap/card/Card.h"
#include "kesmacap/sim/SimulatedSource.h"

namespace kesmacap {

namespace {

std::unique_ptr<FrameSource> simulatedSource(Channels& channels) {
    return std::make_unique<SimulatedSource>(channels, SimulatedSource::rateFromEnvironment());
}

}  // namespace

#ifdef _WIN32
Card& TheCard() {
    // Never destroyed. When a process ends, Windows has ended the producer
    // before the DLL's static destructors run, maybe inside one of the card's
    // locks: tearing the card down then would hang the exit. The events stay
    // valid until the process is gone.
    alignas(Card) static unsigned char storage[sizeof(Card)];
    static Card* const card = ::new (storage) Card(simulatedSource);
    return *card;
}
#else
Card& TheCard() {
    // Destroyed when the library is unloaded or the process exits: the
    // producer stops and the events close.
    static Card card(simulatedSource);
    return card;
}
#endif

}  // namespace kesmacap
