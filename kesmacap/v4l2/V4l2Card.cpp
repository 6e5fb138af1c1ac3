// Real capture devices as the library's card.
#include <cstdlib>

#include "kesmacap/card/Card.h"
#include "kesmacap/v4l2/V4l2Source.h"

namespace kesmacap {

Card& TheCard() {
    // Destroyed when the library is unloaded: streaming stops and the devices close.
    static Card card([](Channels& channels) {
        auto system = MakeLibv4l2System();
        auto devices = ResolveV4l2Devices(*system, std::getenv("KESMACAP_V4L2_DEVICES"));
        return std::make_unique<V4l2Source>(channels, std::move(system), std::move(devices));
    });
    return card;
}

}  // namespace kesmacap
