// The conformance suite's view of a capture library loaded from its file.
#include "capture/CaptureLibrary.h"
#include "tests/support/CardConformance.h"
#ifndef _WIN32
#include "platform/linux/EventHandle.h"
#endif

namespace testing_support {

kesmacap_event AbiEvent(void* handle) {
#ifdef _WIN32
    return handle;
#else
    return DescriptorFromEventHandle(handle);
#endif
}

std::unique_ptr<CardUnderTest> LoadedLibrary(const std::string& file, std::string& why) {
    try {
        return std::make_unique<OwnedCard<const CaptureLibrary>>(
            std::make_unique<const CaptureLibrary>(CaptureLibrary::loadFile(file)));
    } catch (const CaptureLibraryError& error) {
        why = error.what();
        return nullptr;
    }
}

}  // namespace testing_support
