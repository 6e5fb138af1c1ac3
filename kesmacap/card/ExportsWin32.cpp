// kesmacap.dll's one export by name; the operations go out by ordinal (kesmacap.def).
#include <cstdint>

#include "abi/kesmacap.h"

extern "C" std::int32_t kesmacap_abi(void) {
    return KESMACAP_ABI_ERRNO_RESULTS;
}
