#include <dlfcn.h>
#include <gtest/gtest.h>

#include "capture/CaptureLibrary.h"
#include "tests/support/TestPlatform.h"

namespace {

using testing_support::LibraryFile;

TEST(CaptureBindingLinux, LibraryExportsOnlyTheLookup) {
    void* const handle = dlopen(LibraryFile("kesmacap").c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle, nullptr) << dlerror();
    EXPECT_NE(dlsym(handle, "kesmacap_proc"), nullptr);
    // The card's own code stays inside, so it cannot clash with a host's.
    EXPECT_EQ(dlsym(handle, "OpenChannel"), nullptr);
    EXPECT_EQ(dlsym(handle, "_ZN8kesmacap4Card11OpenChannelEt"), nullptr);
    EXPECT_EQ(dlsym(handle, "_ZN8kesmacap9EncodeBmpERKNS_11PictureViewERSt6vectorIhSaIhEE"), nullptr);
    dlclose(handle);
}

TEST(CaptureBindingLinux, MissingLookupSymbolIsNamed) {
    try {
        CaptureLibrary::loadFile(LibraryFile("broken_noproc"));
        FAIL() << "bound a library without kesmacap_proc";
    } catch (const CaptureLibraryError& error) {
        EXPECT_NE(std::string(error.what()).find("kesmacap_proc"), std::string::npos) << error.what();
    }
}

}  // namespace
