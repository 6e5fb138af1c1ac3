// Starts the real quadview on the simulated card inside a private X server,
// drives it with keys and checks what reaches the screen. The Screen tests run
// for each way to the screen: QUADVIEW_VIEWER names the viewer held to one
// (quadview_putimage, quadview_surface; quadview by default).
#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "tests/support/DesignedFrame.h"
#include "tests/support/ViewerHarness.h"
#include "tests/support/Waiting.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using namespace viewer_harness;

class Acceptance : public ViewerTest {
  protected:
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

    static std::string viewerName() {
        const char* const chosen = std::getenv("QUADVIEW_VIEWER");
        return chosen != nullptr ? chosen : "quadview";
    }
    static fs::path program() { return binaries() / viewerName(); }

    // The way to the screen the viewer took: native camera windows on X11,
    // with shared-memory images unless held to plain puts.
    static void expectPathTaken(const Process& viewer, const std::string& form) {
        const std::string name = viewerName();
        EXPECT_EQ(mapsSharedMemory(viewer.pid()), name == "quadview") << name;
        if (name == "quadview_surface") {
            EXPECT_EQ(nativeDescendants(form), 0) << "window surfaces need no native windows";
        } else {
            EXPECT_GE(nativeDescendants(form), 8) << "four native camera windows, each in a native frame";
        }
    }
};

using Screen = Acceptance;

TEST_F(Screen, ViewerShowsFourLiveChannelsAndExitsWithF2) {
    Process viewer({program().string()}, log());
    const std::string form = findWindow("Form1");
    ASSERT_FALSE(form.empty()) << readAll(log());
    expectPathTaken(viewer, form);

    // Form1 sits at its designed place on a screen without a window manager.
    const QRect frame = testing_support::DesignedFrame();
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
    EXPECT_EQ(viewer.wait(10s), std::optional<int>(0)) << readAll(log());
}

// The pictures through the user-interface thread's troubles: a save of some
// seconds, and the arrangements.
TEST_F(Screen, PicturesGoOnDuringASlowSave) {
    if (viewerName() == "quadview_surface") {
        GTEST_SKIP() << "window surfaces are painted by the user-interface thread the save holds";
    }
    const fs::path folder = withLibrary("libforeign_slow_save.so", viewerName());
    Process viewer({(folder / viewerName()).string()}, log());
    const std::string form = findWindow("Form1");
    ASSERT_FALSE(form.empty()) << readAll(log());
    pressKeys(form, "F1");
    const std::string dialog = openSaveDialog(form);
    ASSERT_FALSE(dialog.empty()) << "no save dialog";
    ASSERT_EQ(std::system(("xdotool type --window " + dialog + " '" + scratch("slow").string() +
                           "' && xdotool key Return")
                              .c_str()),
              0);
    // Four saves of 1.5 s each: the user-interface thread is held for 6 s.
    std::this_thread::sleep_for(1s);
    const QRect camera1 = tiledQuadrants()[3];
    QImage last = screenshot().copy(camera1);
    int changes = 0;
    for (int look = 0; look < 6; ++look) {
        std::this_thread::sleep_for(300ms);
        const QImage now = screenshot().copy(camera1);
        changes += now != last ? 1 : 0;
        last = now;
    }
    EXPECT_GE(changes, 5) << "the picture changed in " << changes << " of 6 looks during the save";
    EXPECT_FALSE(viewer.wait(0ms)) << "still saving";
    pressKeys(form, "F2");
    EXPECT_EQ(viewer.wait(20s), std::optional<int>(0)) << readAll(log());
}

TEST_F(Screen, CascadeClipsTileRestoresAndAnUncoveredPictureIsBackAtOnce) {
    // One frame a second: a picture seen soon after an exposure was kept, not sent again.
    Process viewer({program().string()}, log(), {"KESMACAP_SIM_FPS=1"});
    const std::string form = findWindow("Form1");
    ASSERT_FALSE(form.empty()) << readAll(log());
    pressKeys(form, "F1");
    std::this_thread::sleep_for(2500ms);
    for (int round = 0; round < 3; ++round) {
        {
            const ScreenCover cover;
            std::this_thread::sleep_for(200ms);
        }
        std::this_thread::sleep_for(150ms);
        const QImage uncovered = screenshot();
        for (const QRect& quadrant : tiledQuadrants()) {
            EXPECT_GT(colours(uncovered, quadrant).saturated, 0.5)
                << "round " << round << ": the picture is back";
        }
    }

    pressKeys(form, "alt");
    pressKeys(form, "Right Down Down Return");  // 視窗 > 重疊
    std::this_thread::sleep_for(500ms);
    const QImage cascaded = screenshot();
    const Share front = colours(cascaded, QRect(280, 240, 620, 450));
    EXPECT_GT(front.saturated, 0.5) << "Camera4, in front, shows its picture whole";
    EXPECT_GT(front.blue, front.green);
    EXPECT_GT(front.red, front.green);
    for (const int top : {150, 172, 193}) {
        EXPECT_LT(colours(cascaded, QRect(320, top, 400, 10)).saturated, 0.05)
            << "no picture over the title bar at y " << top;
    }
    // Behind it, each camera shows only the strip left of the next.
    const Share camera1 = colours(cascaded, QRect(244, 300, 4, 300));
    const Share camera2 = colours(cascaded, QRect(254, 300, 4, 300));
    const Share camera3 = colours(cascaded, QRect(264, 300, 4, 300));
    EXPECT_GT(camera1.blue, camera1.red);
    EXPECT_GT(camera2.green, camera2.red);
    EXPECT_GT(camera3.red, camera3.blue);

    pressKeys(form, "alt");
    pressKeys(form, "Right Down Return");  // 視窗 > 非重疊
    std::this_thread::sleep_for(300ms);
    const QRect camera1Tiled = tiledQuadrants()[3];
    EXPECT_GT(colours(screenshot(), camera1Tiled).saturated, 0.5) << "tiled again, at once";
    // Camera1's close box minimises it; tiling brings it back with its picture.
    const QPoint closeBox = camera1Tiled.topRight() + QPoint(-3, -1);  // the title bar's last button
    ASSERT_EQ(std::system(("xdotool mousemove " + std::to_string(closeBox.x()) + " " +
                           std::to_string(closeBox.y()) + " click 1")
                              .c_str()),
              0);
    std::this_thread::sleep_for(300ms);
    EXPECT_LT(colours(screenshot(), camera1Tiled).saturated, 0.05) << "minimised";
    pressKeys(form, "alt");
    pressKeys(form, "Right Down Return");
    std::this_thread::sleep_for(200ms);
    EXPECT_GT(colours(screenshot(), camera1Tiled).saturated, 0.5) << "restored with its picture";
    pressKeys(form, "F2");
    EXPECT_EQ(viewer.wait(10s), std::optional<int>(0)) << readAll(log());
}

TEST_F(Acceptance, ServerGoingAwayEndsTheViewerWithoutACrash) {
    XServer server;
    ASSERT_FALSE(server.display().empty());
    Process viewer({(binaries() / "quadview").string()}, log(),
                   {"DISPLAY=" + server.display(), "KESMACAP_SIM_FPS=60"});
    std::this_thread::sleep_for(2s);
    const std::string form =
        capture("DISPLAY=" + server.display() +
                " timeout 20 xdotool search --sync --onlyvisible --name '^Form1$' | head -1");
    ASSERT_FALSE(form.empty()) << readAll(log());
    ASSERT_EQ(
        std::system(
            ("DISPLAY=" + server.display() + " xdotool windowfocus --sync " + form + " key F1").c_str()),
        0);
    std::this_thread::sleep_for(500ms);
    server.stop();
    // The toolkit ends the program when its connection breaks: status 1, and nothing worse.
    EXPECT_EQ(viewer.wait(20s), std::optional<int>(1)) << readAll(log());
    EXPECT_EQ(readAll(log()).find("Sanitizer"), std::string::npos) << readAll(log());
}

// Four loopback network cameras through the GStreamer library: their
// pictures, an outage that each window shows as such, and their return
// without a key pressed.
TEST_F(Acceptance, NetworkCamerasTheirOutageAndReturn) {
    if (!fs::exists(binaries() / "rtsp_test_server")) {
        GTEST_SKIP() << "built without the GStreamer library (QUADVIEW_GSTREAMER=OFF)";
    }
    const fs::path portFile = scratch("rtsp.port");
    Process server({(binaries() / "rtsp_test_server").string(), portFile.string()}, scratch("server.log"));
    ASSERT_TRUE(testing_support::Eventually([&] {
        return fs::exists(portFile) && fs::file_size(portFile) > 0;
    })) << readAll(scratch("server.log"));
    const std::string port = readAll(portFile);
    const std::string base = "rtsp://127.0.0.1:" + port.substr(0, port.find('\n'));
    fs::create_directories(scratch("config/quadview"));
    std::ofstream(scratch("config/quadview/sources"))
        << "Camera1 = " << base << "/mjpeg\nCamera2 = " << base << "/h264\nCamera3 = " << base
        << "/mjpeg\nCamera4 = " << base << "/wide\n";
    const fs::path folder = scratch("gstreamer");
    fs::create_directories(folder);
    fs::copy_file(binaries() / "quadview", folder / "quadview");
    fs::copy_file(binaries() / "../lib/quadview/gstreamer/libkesmacap.so", folder / "libkesmacap.so");
    Process viewer({(folder / "quadview").string()}, log(),
                   {"XDG_CONFIG_HOME=" + scratch("config").string()});
    const std::string form = findWindow("Form1");
    ASSERT_FALSE(form.empty()) << readAll(log());
    pressKeys(form, "F1");

    // Every camera here sends colour bars; the library's no-signal picture is dark.
    const auto brightness = [](const Share& share) { return (share.red + share.green + share.blue) / 3; };
    const auto live = [&](const Share& share) { return share.saturated > 0.3 && brightness(share) > 0.35; };
    const auto dark = [&](const Share& share) { return brightness(share) < 0.25; };
    const auto allFour = [&](const std::function<bool(const Share&)>& test) {
        return testing_support::Eventually(
            [&] {
                const QImage shot = screenshot();
                for (const QRect& quadrant : tiledQuadrants()) {
                    if (!test(colours(shot, quadrant))) {
                        return false;
                    }
                }
                return true;
            },
            15s);
    };
    ASSERT_TRUE(allFour(live)) << "four live cameras\n" << readAll(log());
    kill(server.pid(), SIGUSR1);
    EXPECT_TRUE(allFour(dark)) << "each says it lost its camera";
    kill(server.pid(), SIGUSR2);
    EXPECT_TRUE(allFour(live)) << "back by themselves\n" << readAll(log());
    pressKeys(form, "F2");
    EXPECT_EQ(viewer.wait(20s), std::optional<int>(0)) << readAll(log());
}

TEST_F(Acceptance, MissingLibraryIsShownNamedAndGivesStatusOne) {
    const fs::path folder = scratch("alone");
    fs::create_directories(folder);
    fs::copy_file(binaries() / "quadview", folder / "quadview");
    expectStartupFailure(folder, "libkesmacap.so");
}

TEST_F(Acceptance, LibraryLackingAnOrdinalIsShownNamedAndGivesStatusOne) {
    expectStartupFailure(withLibrary("libbroken_no42.so"), "ordinal 42 (SaveChannelPicture)");
}

}  // namespace

int main(int argc, char** argv) {
    return viewer_harness::runWithPrivateXServer(argc, argv);
}
