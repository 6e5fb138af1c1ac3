// A capture DLL that is not ours: every ordinal answers 1 and writes nothing,
// and it does not export kesmacap_abi. Its .def files give it all eleven
// ordinals, or all but 42.
#include <cstdint>

extern "C" std::int32_t answerOne() {
    return 1;
}
