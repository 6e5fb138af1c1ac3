// Running the real viewer under a private X server: the process, its keys,
// its windows, what reaches the screen, and what /proc says of it.
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <QImage>
#include <QRect>
#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/ScratchFolder.h"

namespace viewer_harness {

std::filesystem::path binaries();

// What the suites that run the real viewer share: a scratch folder, the
// viewer's log in it, and folders holding a viewer with a capture library.
class ViewerTest : public ::testing::Test {
  protected:
    std::filesystem::path scratch(const std::string& name) const { return scratch_ / name; }
    std::filesystem::path log() const { return scratch("viewer.log"); }
    // A folder holding `viewer` from the build and `library` as its
    // libkesmacap.so, made at the first call.
    std::filesystem::path withLibrary(const std::string& library,
                                      const std::string& viewer = "quadview") const;

  private:
    testing_support::ScratchFolder scratch_{"quadview-viewer"};
};

// A child process, killed if the test leaves it running. Standard output and
// error go to `output`; `environment` entries ("NAME=value") are added or
// replace the inherited ones.
class Process {
  public:
    explicit Process(const std::vector<std::string>& argv, const std::filesystem::path& output = "/dev/null",
                     const std::vector<std::string>& environment = {});
    ~Process();
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    pid_t pid() const { return pid_; }
    // The exit status (128 + signal when killed), or nothing if it still runs after the limit.
    std::optional<int> wait(std::chrono::milliseconds limit);

  private:
    pid_t pid_ = -1;
    std::optional<int> status_;
};

std::string capture(const std::string& command);
// The first viewable window with exactly this title, waiting up to 20 s; empty if none.
std::string findWindow(const std::string& title);
void pressKeys(const std::string& window, const std::string& keys);
// Asks the window to close, as its close box does (WM_DELETE_WINDOW).
void closeWindow(const std::string& window);
QImage screenshot();
std::string readAll(const std::filesystem::path& file);

struct Share {
    double red = 0;
    double green = 0;
    double blue = 0;
    double saturated = 0;  // pixels that are clearly coloured, not grey
};
Share colours(const QImage& image, const QRect& area);
// The four tiled camera areas of Form1 at its designed place: Camera4,
// Camera3 on top, Camera2, Camera1 below.
std::vector<QRect> tiledQuadrants();

// What /proc says of a process.
struct Usage {
    int threads = 0;
    int descriptors = 0;
    long residentKiB = 0;
    double cpuSeconds = 0;  // user + system so far
};
Usage usageOf(pid_t pid);

// An Xvfb of its own, 1280 x 960, on a free display.
class XServer {
  public:
    XServer();
    ~XServer();
    XServer(const XServer&) = delete;
    XServer& operator=(const XServer&) = delete;
    // ":N", empty if it did not start.
    const std::string& display() const { return display_; }
    // Ends it, as a server that goes away.
    void stop();

  private:
    std::unique_ptr<Process> process_;
    std::string display_;
};

// Starts Xvfb for the whole suite, sets DISPLAY, then runs the tests.
int runWithPrivateXServer(int argc, char** argv);

// Whether the process maps a System V shared-memory segment, as MIT-SHM images are.
bool mapsSharedMemory(pid_t pid);
// Native X windows below this one, at any depth.
int nativeDescendants(const std::string& window);
// Opens 圖片 > 儲存 with the keyboard; the dialog's window, once it takes keys.
std::string openSaveDialog(const std::string& form);

// A window over the whole screen while it lives: what it uncovers is exposed.
class ScreenCover {
  public:
    ScreenCover();
    ~ScreenCover();
    ScreenCover(const ScreenCover&) = delete;
    ScreenCover& operator=(const ScreenCover&) = delete;

  private:
    void* display_ = nullptr;
    unsigned long window_ = 0;
};

}  // namespace viewer_harness
