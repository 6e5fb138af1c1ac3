#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>

#include "capture/CaptureLibrary.h"
#include "tests/support/TestPlatform.h"

namespace {

using testing_support::LibraryFile;

std::string loadError(const std::filesystem::path& file) {
    try {
        CaptureLibrary::loadFile(file);
    } catch (const CaptureLibraryError& error) {
        return error.what();
    }
    return "";
}

TEST(CaptureBinding, RealLibraryBindsAllElevenOperations) {
    const CaptureLibrary capture = CaptureLibrary::loadFile(LibraryFile("kesmacap"));
    EXPECT_TRUE(capture.reportsErrors());
    ASSERT_EQ(capture.OpenChannel(1), 0);
    HANDLE event = nullptr;
    ASSERT_EQ(capture.GetChannelEvent(1, &event), 0);
    EXPECT_NE(event, nullptr);
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
    const std::string missing =
        (std::filesystem::temp_directory_path() / "no-such-folder" / "x.bmp").string();
    EXPECT_EQ(capture.SaveChannelPicture(1, missing.c_str(), 0, 50), ENOENT);
    EXPECT_EQ(capture.CloseChannel(1), 0);
    EXPECT_EQ(capture.GetChannelEvent(1, nullptr), EINVAL);
}

TEST(CaptureBinding, MissingOrdinalIsNamedWithItsOperation) {
    const std::filesystem::path file = LibraryFile("broken_no42");
    const std::string message = loadError(file);
    EXPECT_NE(message.find("ordinal 42"), std::string::npos) << message;
    EXPECT_NE(message.find("SaveChannelPicture"), std::string::npos) << message;
    EXPECT_NE(message.find(file.filename().string()), std::string::npos) << message;
}

TEST(CaptureBinding, MissingFileAndFileThatIsNoLibraryAreNamed) {
    const auto missing = std::filesystem::temp_directory_path() / "no-such-folder" / CaptureLibrary::FileName;
    std::string message = loadError(missing);
    EXPECT_NE(message.find(missing.string()), std::string::npos) << message;

    const auto notALibrary = std::filesystem::temp_directory_path() /
                             ("notalib-" + std::to_string(testing_support::ProcessId()) + ".dll");
    std::ofstream(notALibrary) << "not a shared object";
    message = loadError(notALibrary);
    std::filesystem::remove(notALibrary);
    EXPECT_NE(message.find(notALibrary.string()), std::string::npos) << message;
}

TEST(CaptureBinding, DefaultLoadFindsTheLibraryBesideTheExecutable) {
    // The test binary sits beside the capture library, as the viewer does.
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
