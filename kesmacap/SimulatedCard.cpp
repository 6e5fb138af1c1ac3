// The simulated card as the library's card.
#include "kesmacap/Card.h"
#include "kesmacap/SimulatedSource.h"

namespace kesmacap {

Card& TheCard() {
    // Destroyed when the library is unloaded: the producer stops and the events close.
    static Card card([](Channels& channels) {
        return std::make_unique<SimulatedSource>(channels, SimulatedSource::rateFromEnvironment());
    });
    return card;
}

}  // namespace kesmacap
