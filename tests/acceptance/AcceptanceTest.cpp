// Starts the real quadview on the simulated card inside a private X server,
// drives it with keys and checks what reaches the screen.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <thread>

#include "tests/support/ViewerHarness.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using namespace viewer_harness;

class Acceptance : public ::testing::Test {
  protected:
    void TearDown() override { fs::remove_all(scratch_); }

    // Runs the quadview in folder: a message box appears, standard error names
    // what is missing, and dismissing the box ends the program with status 1.
    void expectStartupFailure(const fs::path& folder, const std::string& named) {
        const fs::path log = scratch("startup.log");
        Process viewer({(folder / "quadview").string()}, log);
        const std::string box = findWindow("quadview");
        ASSERT_FALSE(box.empty()) << "a message box appears";
        pressKeys(box, "Return");
        EXPECT_EQ(viewer.wait(10s), std::optional<int>(1));
        EXPECT_NE(readAll(log).find(named), std::string::npos) << readAll(log);
    }

    fs::path scratch(const std::string& name) {
        fs::create_directories(scratch_);
        return scratch_ / name;
    }

  private:
    fs::path scratch_ = fs::temp_directory_path() / ("quadview-acceptance-" + std::to_string(getpid()));
};

TEST_F(Acceptance, ViewerShowsFourLiveChannelsAndExitsWithF2) {
    Process viewer({(binaries() / "quadview").string()}, scratch("viewer.log"));
    const std::string form = findWindow("Form1");
    ASSERT_FALSE(form.empty()) << readAll(scratch("viewer.log"));

    // Form1's client area sits at its designed place on a screen without a window manager.
    const QRect frame(239, 125, 725, 579);
    const std::vector<QRect> quadrants = tiledQuadrants();
    std::this_thread::sleep_for(300ms);
    const QImage before = screenshot();
    for (const QRect& quadrant : quadrants) {
        EXPECT_LT(colours(before, quadrant).saturated, 0.05) << "no video before F1";
    }

    pressKeys(form, "F1");
    std::this_thread::sleep_for(1500ms);
    const QImage live = screenshot();
    // Tiled in stacking order: Camera4, Camera3 on top, Camera2, Camera1 below.
    const Share camera4 = colours(live, quadrants[0]);
    const Share camera3 = colours(live, quadrants[1]);
    const Share camera2 = colours(live, quadrants[2]);
    const Share camera1 = colours(live, quadrants[3]);
    for (const Share& camera : {camera1, camera2, camera3, camera4}) {
        EXPECT_GT(camera.saturated, 0.5) << "live video in every camera window";
    }
    EXPECT_GT(camera1.blue, camera1.red) << "channel 0 is blue";
    EXPECT_GT(camera2.green, camera2.red) << "channel 1 is green";
    EXPECT_GT(camera3.red, camera3.blue) << "channel 2 is red";
    EXPECT_GT(camera4.blue, camera4.green) << "channel 3 is purple";
    EXPECT_GT(camera4.red, camera4.green);

    std::this_thread::sleep_for(300ms);
    EXPECT_NE(screenshot().copy(frame), live.copy(frame)) << "the pictures move";

    pressKeys(form, "F1");  // a restart keeps it live
    std::this_thread::sleep_for(500ms);
    EXPECT_GT(colours(screenshot(), quadrants[3]).saturated, 0.5);

    pressKeys(form, "F2");
    EXPECT_EQ(viewer.wait(10s), std::optional<int>(0)) << readAll(scratch("viewer.log"));
}

TEST_F(Acceptance, MissingLibraryIsShownNamedAndGivesStatusOne) {
    const fs::path folder = scratch("alone");
    fs::create_directories(folder);
    fs::copy_file(binaries() / "quadview", folder / "quadview");
    expectStartupFailure(folder, "libkesmacap.so");
}

TEST_F(Acceptance, LibraryLackingAnOrdinalIsShownNamedAndGivesStatusOne) {
    const fs::path folder = scratch("broken");
    fs::create_directories(folder);
    fs::copy_file(binaries() / "quadview", folder / "quadview");
    fs::copy_file(binaries() / "libbroken_no42.so", folder / "libkesmacap.so");
    expectStartupFailure(folder, "ordinal 42 (SaveChannelPicture)");
}

}  // namespace

int main(int argc, char** argv) {
    return viewer_harness::runWithPrivateXServer(argc, argv);
}
