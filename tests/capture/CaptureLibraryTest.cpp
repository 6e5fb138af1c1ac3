#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>

#include "capture/CaptureLibrary.h"
#include "platform/EventHandle.h"

namespace {

std::filesystem::path binaryDirectory() {
    return std::filesystem::read_symlink("/proc/self/exe").parent_path();
}

std::string loadError(const std::filesystem::path& file) {
    try {
        CaptureLibrary::loadFile(file);
    } catch (const CaptureLibraryError& error) {
        return error.what();
    }
    return "";
}

TEST(CaptureBinding, RealLibraryBindsAllElevenOperations) {
    const CaptureLibrary capture = CaptureLibrary::loadFile(binaryDirectory() / "libkesmacap.so");
    ASSERT_EQ(capture.OpenChannel(1), 0);
    HANDLE event = nullptr;
    ASSERT_EQ(capture.GetChannelEvent(1, &event), 0);
    EXPECT_GE(DescriptorFromEventHandle(event), 0);
    EXPECT_EQ(capture.SetChannelPixelBytes(1, 3), 0);
    EXPECT_EQ(capture.SetChannelMode(1, 0), 0);
    BYTE* pixels = nullptr;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::int32_t sequence = -1;
    EXPECT_EQ(capture.GetChannelFrame(1, &pixels, &width, &height, &sequence), 0);
    EXPECT_NE(pixels, nullptr);
    EXPECT_EQ(width, 640);
    EXPECT_EQ(height, 480);
    std::int32_t state = -1;
    EXPECT_EQ(capture.QueryChannelState(1, &state), 0);
    EXPECT_EQ(capture.StartChannel(1, -1), 0);
    EXPECT_EQ(capture.StopChannel(1), 0);
    EXPECT_EQ(capture.SetChannelFlag(1, 0), 0);
    EXPECT_EQ(capture.SaveChannelPicture(1, "/nonexistent-folder/x.bmp", 0, 50), ENOENT);
    EXPECT_EQ(capture.CloseChannel(1), 0);
    EXPECT_EQ(capture.GetChannelEvent(1, nullptr), EINVAL);
}

TEST(CaptureBinding, LibraryExportsOnlyTheLookup) {
    void* const handle = dlopen((binaryDirectory() / "libkesmacap.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle, nullptr) << dlerror();
    EXPECT_NE(dlsym(handle, "kesmacap_proc"), nullptr);
    // The card's own C++ code stays inside, so it cannot clash with a host's.
    EXPECT_EQ(dlsym(handle, "_ZN8kesmacap4Card11OpenChannelEt"), nullptr);
    EXPECT_EQ(dlsym(handle, "_ZN8kesmacap9EncodeBmpERKNS_11PictureViewERSt6vectorIhSaIhEE"), nullptr);
    dlclose(handle);
}

TEST(CaptureBinding, MissingOrdinalIsNamedWithItsOperation) {
    const std::string message = loadError(binaryDirectory() / "libbroken_no42.so");
    EXPECT_NE(message.find("ordinal 42"), std::string::npos) << message;
    EXPECT_NE(message.find("SaveChannelPicture"), std::string::npos) << message;
    EXPECT_NE(message.find("libbroken_no42.so"), std::string::npos) << message;
}

TEST(CaptureBinding, MissingLookupSymbolIsNamed) {
    const std::string message = loadError(binaryDirectory() / "libbroken_noproc.so");
    EXPECT_NE(message.find("kesmacap_proc"), std::string::npos) << message;
}

TEST(CaptureBinding, MissingFileIsNamed) {
    const std::string message = loadError("/nonexistent/libkesmacap.so");
    EXPECT_NE(message.find("/nonexistent/libkesmacap.so"), std::string::npos) << message;
}

TEST(CaptureBinding, FileThatIsNoLibraryIsNamed) {
    const auto file =
        std::filesystem::temp_directory_path() / ("notalib-" + std::to_string(getpid()) + ".so");
    std::ofstream(file) << "not a shared object";
    const std::string message = loadError(file);
    std::filesystem::remove(file);
    EXPECT_NE(message.find(file.string()), std::string::npos) << message;
}

TEST(CaptureBinding, DefaultLoadFindsTheLibraryBesideTheExecutable) {
    // The test binary sits beside build/bin/libkesmacap.so, as the viewer does.
    EXPECT_NO_THROW(CaptureLibrary::load());
}

kesmacap_fn emptyTable(std::uint16_t) {
    return nullptr;
}

TEST(CaptureBinding, InProcessTableWithoutOperationsIsRefused) {
    try {
        CaptureLibrary::bind(emptyTable);
        FAIL() << "bound a table without operations";
    } catch (const CaptureLibraryError& error) {
        EXPECT_NE(std::string(error.what()).find("OpenChannel"), std::string::npos);
    }
    EXPECT_THROW(CaptureLibrary::bind(nullptr), CaptureLibraryError);
}

}  // namespace
