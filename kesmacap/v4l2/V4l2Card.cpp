// Real capture devices as the library's card.
#include <cstdlib>

#include "kesmacap/card/Card.h"
#include "kesmacap/v4l2/V4l2Source.h"

namespace kesmacap {

Card& TheCard() {
    // Destroyed when the library is unloaded: streaming stops and the devices close.
    return LibraryCard([](Channels& channels) {
        auto system = MakeLibv4l2System();
        const V4l2Channels plan =
            PlanV4l2Channels(*system, std::getenv("KESMACAP_V4L2_DEVICES"), LoadSources("v4l2"));
        return std::make_unique<V4l2Source>(channels, std::move(system), plan);
    });
}

}  // namespace kesmacap
