// The simulated card as the library's card.
#include "kesmacap/card/Card.h"
#include "kesmacap/sim/SimulatedSource.h"

namespace kesmacap {

Card& TheCard() {
    return LibraryCard([](Channels& channels) {
        return std::make_unique<SimulatedSource>(channels, SimulatedSource::rateFromEnvironment());
    });
}

}  // namespace kesmacap
