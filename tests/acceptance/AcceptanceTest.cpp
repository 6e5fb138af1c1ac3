// Starts the real quadview on the simulated card inside a private X server,
// drives it with keys and checks what reaches the screen.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

fs::path binaries() {
    return fs::read_symlink("/proc/self/exe").parent_path();
}

// A child process, killed if the test leaves it running.
class Process {
  public:
    explicit Process(const std::vector<std::string>& argv, const fs::path& output = "/dev/null") {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
        std::vector<char*> args;
        for (const std::string& arg : argv) {
            args.push_back(const_cast<char*>(arg.c_str()));
        }
        args.push_back(nullptr);
        if (posix_spawnp(&pid_, args[0], &actions, nullptr, args.data(), environ) != 0) {
            pid_ = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
    }
    ~Process() {
        if (pid_ > 0 && !status_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    // The exit status, or nothing if it is still running after the limit.
    std::optional<int> wait(std::chrono::milliseconds limit) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (!status_ && pid_ > 0) {
            int raw = 0;
            if (waitpid(pid_, &raw, WNOHANG) == pid_) {
                status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
            } else if (std::chrono::steady_clock::now() > deadline) {
                break;
            } else {
                std::this_thread::sleep_for(10ms);
            }
        }
        return status_;
    }

  private:
    pid_t pid_ = -1;
    std::optional<int> status_;
};

std::string capture(const std::string& command) {
    std::string output;
    if (FILE* const pipe = popen(command.c_str(), "r")) {
        char buffer[256];
        while (fgets(buffer, sizeof buffer, pipe) != nullptr) {
            output += buffer;
        }
        pclose(pipe);
    }
    while (!output.empty() && (output.back() == '\n' || output.back() == ' ')) {
        output.pop_back();
    }
    return output;
}

std::string findWindow(const std::string& title) {
    const std::string ids = capture("timeout 20 xdotool search --sync --name '^" + title + "$' 2>/dev/null");
    return ids.substr(0, ids.find('\n'));
}

void pressKey(const std::string& window, const std::string& key) {
    ASSERT_EQ(std::system(("xdotool windowfocus --sync " + window + " && xdotool key " + key).c_str()), 0);
}

QImage screenshot() {
    return QGuiApplication::primaryScreen()->grabWindow(0).toImage();
}

std::string readAll(const fs::path& file) {
    std::ifstream in(file);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct Share {
    double red = 0;
    double green = 0;
    double blue = 0;
    double saturated = 0;  // pixels that are clearly coloured, not grey
};

Share colours(const QImage& image, const QRect& area) {
    Share share;
    int count = 0;
    for (int y = area.top(); y <= area.bottom(); y += 2) {
        for (int x = area.left(); x <= area.right(); x += 2) {
            const QColor colour = image.pixelColor(x, y);
            share.red += colour.redF();
            share.green += colour.greenF();
            share.blue += colour.blueF();
            share.saturated += colour.hsvSaturationF() > 0.4 ? 1 : 0;
            ++count;
        }
    }
    share.red /= count;
    share.green /= count;
    share.blue /= count;
    share.saturated /= count;
    return share;
}

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
        pressKey(box, "Return");
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
    const QRect area = frame.adjusted(4, 50, -4, -4);
    const QRect topLeft(area.left(), area.top(), area.width() / 2 - 8, area.height() / 2 - 30);
    const std::vector<QRect> quadrants{topLeft, topLeft.translated(area.width() / 2, 0),
                                       topLeft.translated(0, area.height() / 2),
                                       topLeft.translated(area.width() / 2, area.height() / 2)};
    std::this_thread::sleep_for(300ms);
    const QImage before = screenshot();
    for (const QRect& quadrant : quadrants) {
        EXPECT_LT(colours(before, quadrant).saturated, 0.05) << "no video before F1";
    }

    pressKey(form, "F1");
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

    pressKey(form, "F1");  // a restart keeps it live
    std::this_thread::sleep_for(500ms);
    EXPECT_GT(colours(screenshot(), quadrants[3]).saturated, 0.5);

    pressKey(form, "F2");
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

// A private X server for the whole suite; Qt in this process grabs its screen.
int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) {
        return 1;
    }
    const std::string displayFd = std::to_string(pipeEnds[1]);
    const std::vector<std::string> command{"Xvfb", "-displayfd",  displayFd,   "-screen",
                                           "0",    "1280x800x24", "-nolisten", "tcp"};
    Process server(command);
    close(pipeEnds[1]);
    std::string display;
    char digit = 0;
    while (read(pipeEnds[0], &digit, 1) == 1 && digit != '\n') {
        display += digit;
    }
    close(pipeEnds[0]);
    if (display.empty()) {
        std::fprintf(stderr, "Xvfb did not start\n");
        return 1;
    }
    setenv("DISPLAY", (":" + display).c_str(), 1);
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    QGuiApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
