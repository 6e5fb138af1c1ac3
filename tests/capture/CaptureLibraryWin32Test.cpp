#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>

#include "capture/CaptureLibrary.h"
#include "save/SavePictures.h"
#include "tests/support/TestPlatform.h"

namespace {

namespace fs = std::filesystem;
using testing_support::LibraryFile;

// Every operation of one DLL, as the viewer calls them. The thunk's own
// checks of registers and stack are the calling_convention test.
void driveEveryOperation(const fs::path& dll, int rounds) {
    const CaptureLibrary capture = CaptureLibrary::loadFile(dll);
    ASSERT_TRUE(capture.reportsErrors());
    const std::string missing = (fs::temp_directory_path() / "no-such-folder" / "x.bmp").string();
    for (int round = 0; round < rounds; ++round) {
        const auto channel = static_cast<ChannelIndex>(round % 4);
        ASSERT_EQ(capture.OpenChannel(channel), 0);
        HANDLE event = nullptr;
        ASSERT_EQ(capture.GetChannelEvent(channel, &event), 0);
        ASSERT_NE(event, nullptr);
        ASSERT_EQ(capture.SetChannelPixelBytes(channel, 3), 0);
        ASSERT_EQ(capture.SetChannelMode(channel, 0), 0);
        BYTE* pixels = nullptr;
        std::int32_t width = 0;
        std::int32_t height = 0;
        std::int32_t sequence = 0;
        ASSERT_EQ(capture.GetChannelFrame(channel, &pixels, &width, &height, &sequence), 0);
        ASSERT_EQ(width, 640);
        ASSERT_EQ(capture.StartChannel(channel, -1), 0);
        std::int32_t state = 0;
        ASSERT_EQ(capture.QueryChannelState(channel, &state), 0);
        ASSERT_EQ(capture.StopChannel(channel), 0);
        ASSERT_EQ(capture.SetChannelFlag(channel, 0), 0);
        if (round % 64 == 0) {
            ASSERT_EQ(capture.SaveChannelPicture(channel, missing.c_str(), 0, 50), ENOENT);
        }
        ASSERT_EQ(capture.CloseChannel(channel), 0);
        ASSERT_EQ(capture.SetChannelMode(9, 0), EINVAL) << "results still read right";
    }
}

TEST(CaptureBindingWin32, EveryConventionsLibraryTakesThousandsOfCalls) {
    driveEveryOperation(LibraryFile("kesmacap"), 2000);
#if defined(__i386__)
    driveEveryOperation(LibraryFile("kesmacap_stdcall"), 2000);
#endif
}

TEST(CaptureBindingWin32, ForeignResultsAreNotReadAsFailures) {
    const CaptureLibrary capture = CaptureLibrary::loadFile(LibraryFile("foreign"));
    EXPECT_FALSE(capture.reportsErrors());
    EXPECT_EQ(capture.OpenChannel(0), 0);
    HANDLE event = reinterpret_cast<HANDLE>(1);
    EXPECT_EQ(capture.GetChannelEvent(0, &event), 0);
    EXPECT_EQ(event, nullptr) << "the library wrote no event: the viewer holds none";
    EXPECT_EQ(capture.StartChannel(0, -1), 0);

    class Confirming final : public SavePictureDialog {
      public:
        bool Execute() override { return true; }
        std::string FileName() const override { return "photo"; }
        int FilterIndex() const override { return 2; }
    } dialog;
    const SaveOutcome outcome = SavePictures(capture, dialog);
    EXPECT_TRUE(outcome.attempted);
    EXPECT_TRUE(outcome.failures.empty()) << "1 is no errno from a library that never said so";
}

// A temporary folder made the current directory for one test.
class CurrentDirectory {
  public:
    explicit CurrentDirectory(const fs::path& folder) : previous_(fs::current_path()) {
        fs::current_path(folder);
    }
    ~CurrentDirectory() { fs::current_path(previous_); }

  private:
    fs::path previous_;
};

TEST(CaptureBindingWin32, LibraryInTheCurrentDirectoryOnlyIsNeverLoaded) {
    const fs::path root = fs::temp_directory_path() / ("planting-" + std::to_string(GetCurrentProcessId()));
    const fs::path planted = root / "planted";
    const fs::path program = root / "program";
    // Wine reuses process ids: a folder of an earlier run may be there.
    std::error_code stale;
    fs::remove_all(root, stale);
    fs::create_directories(planted);
    fs::create_directories(program);
    fs::copy_file(LibraryFile("kesmacap"), planted / CaptureLibrary::FileName);
    {
        const CurrentDirectory inPlanted(planted);
        try {
            CaptureLibrary::load(program);
            ADD_FAILURE() << "loaded a DLL from the current directory";
        } catch (const CaptureLibraryError& error) {
            const std::string message = error.what();
            EXPECT_NE(message.find(CaptureLibrary::FileName), std::string::npos) << message;
            EXPECT_NE(message.find("program"), std::string::npos) << message;
        }
    }
    fs::copy_file(LibraryFile("kesmacap"), program / CaptureLibrary::FileName);
    EXPECT_NO_THROW(CaptureLibrary::load(program)) << "beside the program it is found";
    std::error_code ignored;
    fs::remove_all(root, ignored);
}

}  // namespace
