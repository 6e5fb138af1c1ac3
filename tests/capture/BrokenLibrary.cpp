// Capture libraries that break the ABI in one way each, for the binding tests.
#include <cstdint>

#include "abi/kesmacap.h"

namespace {
std::int32_t anyOperation() {
    return 0;
}
}  // namespace

#ifdef MISSING_ORDINAL
extern "C" kesmacap_fn kesmacap_proc(std::uint16_t ordinal) {
    return ordinal == MISSING_ORDINAL ? nullptr : reinterpret_cast<kesmacap_fn>(&anyOperation);
}
#else
// Exports the operation, but not the lookup the ABI asks for.
extern "C" kesmacap_fn kesmacap_lookup(std::uint16_t) {
    return reinterpret_cast<kesmacap_fn>(&anyOperation);
}
#endif
