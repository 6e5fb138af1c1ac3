#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "capture/CaptureLibrary.h"
#include "tests/support/ScratchFolder.h"
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

// An installed tree: prefix/bin/quadview, prefix/lib/quadview/libkesmacap.so.
TEST(CaptureBindingLinux, InstalledTreeLibraryIsFoundAfterTheOneBesideTheProgram) {
    namespace fs = std::filesystem;
    const testing_support::ScratchFolder prefix("installed");
    const fs::path bin = prefix / "bin";
    const fs::path lib = prefix / "lib" / "quadview";
    fs::create_directories(bin);
    fs::create_directories(lib);
    const auto loadError = [&] {
        try {
            CaptureLibrary::load(bin);
        } catch (const CaptureLibraryError& error) {
            return std::string(error.what());
        }
        return std::string();
    };
    // Nowhere to be found (unless the system has one): every place is named.
    if (dlopen(CaptureLibrary::FileName, RTLD_NOW | RTLD_NOLOAD) == nullptr) {
        const std::string message = loadError();
        EXPECT_NE(message.find(bin.string()), std::string::npos) << message;
        EXPECT_NE(message.find(lib.string()), std::string::npos) << message;
        EXPECT_NE(message.find("library path"), std::string::npos) << message;
    }
    fs::copy_file(LibraryFile("kesmacap"), lib / CaptureLibrary::FileName);
    EXPECT_EQ(loadError(), "") << "found in lib/quadview";
    // One beside the program wins: this one lacks ordinal 42, so the error tells which was taken.
    fs::copy_file(LibraryFile("broken_no42"), bin / CaptureLibrary::FileName);
    EXPECT_NE(loadError().find("ordinal 42"), std::string::npos);
}

}  // namespace
