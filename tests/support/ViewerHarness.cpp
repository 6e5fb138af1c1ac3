#include "tests/support/ViewerHarness.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <QColor>
#include <QGuiApplication>
#include <QPixmap>

#include <QScreen>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string_view>
#include <thread>
#include "tests/support/DesignedFrame.h"

extern char** environ;

namespace viewer_harness {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

fs::path binaries() {
    return fs::read_symlink("/proc/self/exe").parent_path();
}

fs::path ViewerTest::withLibrary(const std::string& library, const std::string& viewer) const {
    const fs::path folder = scratch(library);
    if (!fs::exists(folder / viewer)) {
        fs::create_directories(folder);
        fs::copy_file(binaries() / viewer, folder / viewer);
        fs::copy_file(binaries() / library, folder / "libkesmacap.so");
    }
    return folder;
}

Process::Process(const std::vector<std::string>& argv, const fs::path& output,
                 const std::vector<std::string>& environment) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    std::vector<char*> args;
    for (const std::string& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);
    const auto overridden = [&](const std::string_view variable) {
        return std::any_of(environment.begin(), environment.end(), [&](const std::string& entry) {
            return variable.substr(0, variable.find('=') + 1) == entry.substr(0, entry.find('=') + 1);
        });
    };
    std::vector<char*> variables;
    for (char** variable = environ; *variable != nullptr; ++variable) {
        if (!overridden(*variable)) {
            variables.push_back(*variable);
        }
    }
    for (const std::string& variable : environment) {
        variables.push_back(const_cast<char*>(variable.c_str()));
    }
    variables.push_back(nullptr);
    if (posix_spawnp(&pid_, args[0], &actions, nullptr, args.data(), variables.data()) != 0) {
        pid_ = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
}

Process::~Process() {
    if (pid_ > 0 && !status_) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
}

std::optional<int> Process::wait(std::chrono::milliseconds limit) {
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
    // Viewable only: a window found before it is mapped cannot take the focus (BadMatch).
    const std::string ids =
        capture("timeout 20 xdotool search --sync --onlyvisible --name '^" + title + "$' 2>/dev/null");
    return ids.substr(0, ids.find('\n'));
}

void pressKeys(const std::string& window, const std::string& keys) {
    ASSERT_EQ(std::system(("xdotool windowfocus --sync " + window + " && xdotool key " + keys).c_str()), 0);
}

bool sendCloseRequest(const std::string& window);

void closeWindow(const std::string& window) {
    ASSERT_TRUE(sendCloseRequest(window)) << "no X display to send WM_DELETE_WINDOW on";
}

QImage screenshot() {
    return QGuiApplication::primaryScreen()->grabWindow(0).toImage();
}

std::string readAll(const fs::path& file) {
    std::ifstream in(file);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

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

std::vector<QRect> tiledQuadrants() {
    // Form1's client area sits at its designed place on a screen without a window manager.
    const QRect area = testing_support::DesignedFrame().adjusted(4, 50, -4, -4);
    const QRect topLeft(area.left(), area.top(), area.width() / 2 - 8, area.height() / 2 - 30);
    return {topLeft, topLeft.translated(area.width() / 2, 0), topLeft.translated(0, area.height() / 2),
            topLeft.translated(area.width() / 2, area.height() / 2)};
}

Usage usageOf(pid_t pid) {
    Usage usage;
    const fs::path proc = "/proc/" + std::to_string(pid);
    std::error_code error;
    for (auto it = fs::directory_iterator(proc / "fd", error); !error && it != fs::directory_iterator();
         ++it) {
        ++usage.descriptors;
    }
    std::istringstream status(readAll(proc / "status"));
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("Threads:", 0) == 0) {
            usage.threads = std::stoi(line.substr(8));
        } else if (line.rfind("VmRSS:", 0) == 0) {
            usage.residentKiB = std::stol(line.substr(6));
        }
    }
    // Fields 14 and 15 of stat, after the command name in parentheses.
    const std::string stat = readAll(proc / "stat");
    std::istringstream fields(stat.substr(stat.rfind(')') + 2));
    std::string field;
    long ticks = 0;
    for (int index = 3; index <= 15 && fields >> field; ++index) {
        if (index >= 14) {
            ticks += std::stol(field);
        }
    }
    usage.cpuSeconds = static_cast<double>(ticks) / static_cast<double>(sysconf(_SC_CLK_TCK));
    return usage;
}

XServer::XServer() {
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) {
        return;
    }
    const std::string displayFd = std::to_string(pipeEnds[1]);
    process_ = std::make_unique<Process>(std::vector<std::string>{
        "Xvfb", "-displayfd", displayFd, "-screen", "0", "1280x960x24", "-nolisten", "tcp", "-noreset"});
    close(pipeEnds[1]);
    std::string number;
    char digit = 0;
    while (read(pipeEnds[0], &digit, 1) == 1 && digit != '\n') {
        number += digit;
    }
    close(pipeEnds[0]);
    if (!number.empty()) {
        display_ = ":" + number;
    }
}

XServer::~XServer() = default;

void XServer::stop() {
    process_.reset();
}

int runWithPrivateXServer(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    const XServer server;
    if (server.display().empty()) {
        std::fprintf(stderr, "Xvfb did not start\n");
        return 1;
    }
    setenv("DISPLAY", server.display().c_str(), 1);
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    QGuiApplication app(argc, argv);
    return RUN_ALL_TESTS();
}

bool mapsSharedMemory(pid_t pid) {
    return readAll("/proc/" + std::to_string(pid) + "/maps").find("/SYSV") != std::string::npos;
}

std::string openSaveDialog(const std::string& form) {
    pressKeys(form, "alt");
    pressKeys(form, "Right Right Down Return");
    const std::string dialog = findWindow("Save As");
    std::this_thread::sleep_for(500ms);  // mapped is not yet ready for keys
    return dialog;
}

}  // namespace viewer_harness
