#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>

#include "capture/CaptureLibrary.h"
#include "save/SavePictures.h"
#include "tests/support/CardConformance.h"
#include "tests/support/ScratchFolder.h"
#include "tests/support/TestPlatform.h"

namespace {

namespace fs = std::filesystem;
using testing_support::CardConformance;
using testing_support::LibraryFile;

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
    const testing_support::ScratchFolder root("planting");
    const fs::path planted = root / "planted";
    const fs::path program = root / "program";
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
}

#ifdef QUADVIEW_TEST_VIDEO_FILES
// The FFmpeg library's DLL as the viewer binds it, playing four recordings
// the build made: its sources file under an %APPDATA% of the suite's own,
// read when the DLL's card first opens (once for the process).
std::unique_ptr<testing_support::CardUnderTest> ffmpegDll() {
    static const testing_support::ScratchFolder appData("ffmpeg-appdata");
    fs::create_directories(appData.path() / "quadview");
    std::ofstream sources(appData.path() / "quadview" / "sources");
    int camera = 1;
    for (const char* file : {"red.avi", "wide.avi", "bars.mp4", "loop.avi"}) {
        sources << "Camera" << camera++ << " = file://" << QUADVIEW_TEST_VIDEO_FILES << "/" << file << "\n";
    }
    sources.close();
    SetEnvironmentVariableW(L"APPDATA", appData.path().wstring().c_str());
    std::string why;
    auto card = testing_support::LoadedLibrary(LibraryFile("ffmpeg/kesmacap").string(), why);
    EXPECT_NE(card, nullptr) << why;
    return card;
}

INSTANTIATE_TEST_SUITE_P(FfmpegDll, CardConformance,
                         testing::Values(testing_support::ConformanceTarget{"Files", ffmpegDll}),
                         testing_support::ConformanceName);
#endif

}  // namespace
